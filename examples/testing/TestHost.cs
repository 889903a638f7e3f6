// A host's test against the simulator, through its admin interface: queue
// a fault, run a command through the library, read the journal.
//
//   mcs -r:VoiceControl.Net.dll -r:VoiceControl.Testing.dll TestHost.cs
//   mono TestHost.exe    # voicectl on PATH
using System;
using System.Collections.Generic;
using VoiceControl;
using VoiceControl.Testing;

internal static class TestHost
{
    private static int Main()
    {
        using (var server = new Simulator("voicectl"))  // voicectl serve --admin 127.0.0.1:0
        using (var controller = new Controller("127.0.0.1", server.Port))
        {
            server.QueueFault(new Fault { ResetAfterHeaders = true }, "QALL");  // the next QALL only
            string first = "ok";
            try
            {
                controller.QAllAsync().Wait();
            }
            catch (AggregateException e)
            {
                first = ((VoiceControlException)e.InnerException).Text;
            }
            int entries = controller.QAllAsync().Result.Count;  // correct again: no sessions
            IList<JournalEntry> seen = server.Requests("QALL");
            bool passed = first == "timeout." && entries == 0 && seen.Count == 2 &&
                          seen[0].Fault == "reset-after-headers" && seen[1].Status == 200;
            Console.WriteLine(passed ? "passed" : "FAILED: " + first + ", " + seen.Count + " requests");
            return passed ? 0 : 1;
        }
    }
}
