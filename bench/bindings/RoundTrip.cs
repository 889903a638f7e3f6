// The C# binding's QALL round trip: from the call until the task's result
// is in the caller's hands, N times in a row against `voicectl serve`.
// Prints the median and the 90th percentile in microseconds.
//
//   mono RoundTrip.exe HOST PORT [N]
using System;
using System.Collections.Generic;
using System.Diagnostics;
using VoiceControl;

internal static class RoundTrip
{
    private static int Main(string[] args)
    {
        if (args.Length < 2)
        {
            Console.Error.WriteLine("usage: mono RoundTrip.exe HOST PORT [N]");
            return 2;
        }
        int count = args.Length > 2 ? int.Parse(args[2]) : 1000;
        using (var controller = new Controller(args[0], ushort.Parse(args[1])))
        {
            // The first calls compile the paths they take.
            for (int i = 0; i < 50; ++i) controller.QAllAsync().Wait();
            var micros = new List<double>(count);
            var watch = new Stopwatch();
            for (int i = 0; i < count; ++i)
            {
                watch.Restart();
                controller.QAllAsync().Wait();
                micros.Add(watch.Elapsed.TotalMilliseconds * 1000);
            }
            micros.Sort();
            Console.WriteLine("C# QAllAsync round trips: {0}, median {1:F1} us, p90 {2:F1} us",
                              count, micros[count / 2], micros[count * 9 / 10]);
        }
        return 0;
    }
}
