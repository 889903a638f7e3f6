// VoiceControl.Testing, the C# fixture over voicectl serve --admin, driving
// a real Controller, run with Mono:
//
//   mono VoiceControlTestingTest.exe VOICECTL
//
// Prints one line per case; exits 0 when every case passed.
using System;
using System.Collections.Generic;
using System.Threading.Tasks;
using VoiceControl;
using VoiceControl.Testing;

internal static class VoiceControlTestingTest
{
    // The library's error text of a command, or "ok".
    private static string Outcome(Task task)
    {
        if (!((IAsyncResult)task).AsyncWaitHandle.WaitOne(TimeSpan.FromSeconds(15))) return "no outcome";
        if (!task.IsFaulted) return "ok";
        var error = task.Exception.InnerException as VoiceControlException;
        return error != null ? error.Text : task.Exception.InnerException.ToString();
    }

    private static int Main(string[] args)
    {
        int failed = 0;
        Action<bool, string> check = (passed, what) =>
        {
            Console.WriteLine((passed ? "ok   " : "FAIL ") + what);
            if (!passed) ++failed;
        };
        using (var server = new Simulator(args[0]))
        using (var controller = new Controller("127.0.0.1", server.Port))
        {
            controller.SetTimeouts(TimeSpan.FromSeconds(5), TimeSpan.FromSeconds(2));
            var cases = new[]
            {
                new { Name = "queued for QALL", Plan = (Action)(() => server.QueueFault(new Fault { Garbage = true }, "QALL")),
                      Expected = new[] { "bad message.", "ok", "ok" } },
                new { Name = "request number 2", Plan = (Action)(() => server.QueueFaultForRequest(2, new Fault { ResetBeforeHeaders = true })),
                      Expected = new[] { "ok", "timeout.", "ok" } },
                new { Name = "scenario", Plan = (Action)(() => server.SetScenario("QALL",
                          new KeyValuePair<Fault, int>(new Fault { Status = 299 }, 1),
                          new KeyValuePair<Fault, int>(new Fault { EndMidBody = true }, 0))),
                      Expected = new[] { "decode.", "timeout.", "timeout." } },
                new { Name = "standing, first attempt only", Plan = (Action)(() => server.SetStandingFault(new Fault { CloseEarly = true, FirstAttempts = 1 })),
                      Expected = new[] { "timeout.", "ok", "ok" } },
            };
            foreach (var c in cases)
            {
                server.Reset();
                c.Plan();
                var got = new List<string>();
                for (int i = 0; i < c.Expected.Length; ++i) got.Add(Outcome(controller.QAllAsync()));
                check(string.Join(",", got) == string.Join(",", c.Expected), c.Name + ": " + string.Join(",", got));
            }
            server.Reset();
            server.QueueFault(new Fault { Status = 500 }, "KICK");
            Outcome(controller.KickAsync("s1", "bob"));
            IList<JournalEntry> kicks = server.Requests("KICK");
            check(kicks.Count == 1 && kicks[0].Status == 500 && kicks[0].Fault == "status=500" &&
                  kicks[0].Values[1] == "bob", "journal of KICK");
            try
            {
                server.QueueFault(new Fault(), "GET");
                check(false, "a bad kind is refused");
            }
            catch (AdminException e)
            {
                check(e.Status == 400 && e.Reason.Contains("no command kind"), "a bad kind is refused: " + e.Reason);
            }
        }
        Console.WriteLine(failed == 0 ? "all passed" : failed + " failed");
        return failed == 0 ? 0 : 1;
    }
}
