// The C# binding against the simulated server (voicectl serve), run with Mono:
//
//   mono VoiceControlTest.exe VOICECTL VERSION [TEST-NAME...]
//
// The native library is found by the loader (LD_LIBRARY_PATH). Prints one
// line per test; exits 0 when every test passed.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Linq;
using System.Net;
using System.Net.Sockets;
using System.Text.RegularExpressions;
using System.Threading;
using System.Threading.Tasks;
using VoiceControl;

internal static class VoiceControlTest
{
    private static string voicectl;
    private static string version;

    // `voicectl serve` on a free loopback port, for the life of the object.
    private sealed class Serve : IDisposable
    {
        private readonly Process process;

        internal Serve(params string[] flags)
        {
            var start = new ProcessStartInfo(voicectl, "serve --listen 127.0.0.1:0 " + string.Join(" ", flags))
            {
                UseShellExecute = false,
                RedirectStandardOutput = true,
                RedirectStandardError = true,  // its log of every request
            };
            process = Process.Start(start);
            process.ErrorDataReceived += (sender, logged) => { };
            process.BeginErrorReadLine();
            string line = process.StandardOutput.ReadLine() ?? "";
            Match match = Regex.Match(line, @"^listening on 127\.0\.0\.1:(\d+)");
            if (!match.Success)
            {
                Dispose();
                throw new Exception("voicectl serve said: " + line);
            }
            Port = ushort.Parse(match.Groups[1].Value);
        }

        internal ushort Port { get; private set; }

        internal Controller Connect()
        {
            return new Controller("127.0.0.1", Port);
        }

        public void Dispose()
        {
            if (!process.HasExited) process.Kill();
            process.WaitForExit();
            process.Dispose();
        }
    }

    private sealed class Failure : Exception
    {
        internal Failure(string message) : base(message) { }
    }

    private static void Expect(bool condition, string what)
    {
        if (!condition) throw new Failure(what);
    }

    private static void ExpectEqual<T>(T expected, T actual, string what)
    {
        if (!EqualityComparer<T>.Default.Equals(expected, actual))
        {
            throw new Failure(what + ": expected <" + expected + ">, got <" + actual + ">");
        }
    }

    // The outcome of a task, its exception unwrapped.
    private static T Outcome<T>(Task<T> task)
    {
        if (!((IAsyncResult)task).AsyncWaitHandle.WaitOne(TimeSpan.FromSeconds(15)))
        {
            throw new Failure("no outcome within 15 s");
        }
        return task.GetAwaiter().GetResult();
    }

    private static TException Throws<TException>(Action action, string what) where TException : Exception
    {
        try
        {
            action();
        }
        catch (TException expected)
        {
            return expected;
        }
        catch (Exception other)
        {
            throw new Failure(what + ": expected " + typeof(TException).Name + ", got " + other);
        }
        throw new Failure(what + ": expected " + typeof(TException).Name + ", nothing thrown");
    }

    // "text" of a failed task, or "text (detail)" when `withDetail`; a
    // missing detail fails.
    private static string Error<T>(Task<T> task, bool withDetail = false)
    {
        VoiceControlException error = Throws<VoiceControlException>(() => Outcome(task), "error");
        Expect(error.Detail.Length > 0, "no detail with " + error.Text);
        ExpectEqual(error.Text + " (" + error.Detail + ")", error.Message, "message");
        return withDetail ? error.Message : error.Text;
    }

    private static ushort ClosedPort()
    {
        var listener = new System.Net.Sockets.TcpListener(System.Net.IPAddress.Loopback, 0);
        listener.Start();
        var port = (ushort)((System.Net.IPEndPoint)listener.LocalEndpoint).Port;
        listener.Stop();
        return port;
    }

    private static void EveryCommandReturnsItsOutcome()
    {
        using (var serve = new Serve())
        using (Controller c = serve.Connect())
        {
            ExpectEqual(0, Outcome(c.QAllAsync()).Count, "qall before any session");
            CommandResult created = Outcome(c.CreateAsync("s1", "alice", "weekly sync", "alice,bob"));
            ExpectEqual("1001 0 created", created.ToString(), "create");
            ExpectEqual("1001 0 created", Outcome(c.CreateAsync("s2", "carol", "retro", "carol")).ToString(), "create s2");
            ExpectEqual("1001 1 session exists", Outcome(c.CreateAsync("s2", "x", "y", "z")).ToString(), "create again");
            ExpectEqual("1002 0 kicked", Outcome(c.KickAsync("s1", "bob")).ToString(), "kick");
            ExpectEqual("1002 2 no such session", Outcome(c.KickAsync("nope", "bob")).ToString(), "kick nope");
            ExpectEqual("1003 0 changed", Outcome(c.ChangeAsync("s1", "alice", 65535)).ToString(), "change");
            ExpectEqual("1006 0 scheduled", Outcome(c.DsCallAsync("s1", "alice", 3600)).ToString(), "dscall");

            IReadOnlyList<QAllEntry> entries = Outcome(c.QAllAsync());
            ExpectEqual(2, entries.Count, "entries");
            QAllEntry first = entries[0];
            ExpectEqual("s1|alice|weekly sync|alice;bob|1|alice|65535",
                        string.Join("|", first.Session, first.Owner, first.Title, first.Members,
                                    first.KickedCount, first.ChangedMember, first.ChangedValue),
                        "first entry");
            Expect(Regex.IsMatch(first.EndTime, @"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$"), "end time " + first.EndTime);
            ExpectEqual("s2|carol|retro|carol|0|||", string.Join("|", entries[1].Fields), "second entry");

            QSingleResult single = Outcome(c.QSingleAsync("s1"));
            ExpectEqual(18, single.Values.Count, "qsingle values");
            ExpectEqual("s1|found|alice|weekly sync|alice,bob|bob,|1|alice|65535",
                        string.Join("|", single.Values.Take(9)), "qsingle");
            ExpectEqual("no such session", Outcome(c.QSingleAsync("nope"))[1], "qsingle nope");
        }
    }

    private static void EachFailureRaisesTheLibraryText()
    {
        var faults = new[]
        {
            new { Flags = "--close-early", Text = "timeout." },
            new { Flags = "--no-answer", Text = "timeout." },
            new { Flags = "--partial", Text = "timeout." },
            new { Flags = "--http10", Text = "decode." },
            new { Flags = "--status 299", Text = "decode." },
            new { Flags = "--oversize", Text = "decode." },
            new { Flags = "--garbage", Text = "bad message." },
            new { Flags = "--flowid 2000", Text = "bad message." },
            new { Flags = "--fieldnum 0", Text = "param error." },
        };
        var servers = new List<Serve>();
        var controllers = new List<Controller>();
        try
        {
            // All at once: two of them wait out the 5-second time-out.
            var pending = new List<Task<IReadOnlyList<QAllEntry>>>();
            foreach (var fault in faults)
            {
                servers.Add(new Serve(fault.Flags));
                controllers.Add(servers[servers.Count - 1].Connect());
                pending.Add(controllers[controllers.Count - 1].QAllAsync());
            }
            for (int i = 0; i < faults.Length; ++i)
            {
                ExpectEqual(faults[i].Text, Error(pending[i]), faults[i].Flags);
            }
            ExpectEqual("timeout. (no answer within 5 s)", Error(pending[1], true), "detail");

            using (var refused = new Controller("127.0.0.1", ClosedPort()))
            {
                Task<QSingleResult> task = refused.QSingleAsync("s1");
                Expect(task.IsFaulted, "a refused connection fails before the command returns");
                ExpectEqual("connect error. (connect: Connection refused)", Error(task, true), "closed port");
            }
            Controller c = controllers[0];
            ExpectEqual("param error.", Error(c.KickAsync("s1", new string('x', 256))), "too long");
            ExpectEqual("param error.", Error(c.CreateAsync("s1", "a", "b", new string('\u00e9', 128))), "too long in UTF-8");
            Throws<ArgumentNullException>(() => c.KickAsync("s1", null), "null text");
            Throws<ArgumentException>(() => c.KickAsync("s1", "a\0b"), "NUL in a text");
            Throws<ArgumentNullException>(() => new Controller(null, 1), "null address");
            Throws<ArgumentException>(() => new Controller("localhost", 1), "a host name");
        }
        finally
        {
            foreach (Controller c in controllers) c.Dispose();
            foreach (Serve s in servers) s.Dispose();
        }
    }

    // A short answer time-out ends a command against a silent server long
    // before the default would; the error names it. Refused values change
    // nothing.
    private static void ChosenTimeOutsEndCommandsSooner()
    {
        using (var silent = new Serve("--no-answer"))
        using (Controller c = silent.Connect())
        {
            Throws<ArgumentOutOfRangeException>(() => c.SetTimeouts(TimeSpan.FromSeconds(5), TimeSpan.Zero), "0");
            Throws<ArgumentOutOfRangeException>(
                () => c.SetTimeouts(TimeSpan.FromMinutes(10) + TimeSpan.FromMilliseconds(1), TimeSpan.FromSeconds(1)),
                "beyond 10 minutes");
            c.SetTimeouts(TimeSpan.FromSeconds(5), TimeSpan.FromSeconds(0.2));
            Throws<ArgumentOutOfRangeException>(() => c.SetTimeouts(TimeSpan.FromDays(-1), TimeSpan.FromMinutes(5)), "negative");
            var watch = Stopwatch.StartNew();
            ExpectEqual("timeout. (no answer within 200 ms)", Error(c.QAllAsync(), true), "detail");
            Expect(watch.ElapsedMilliseconds < 3000, "took " + watch.ElapsedMilliseconds + " ms");
        }
    }

    // The library delivers an answer by its FlowID; one that names another
    // kind of command cannot be the task's value.
    private static void AnAnswerOfAnotherKindIsABadMessage()
    {
        using (var serve = new Serve("--flowid", "1001"))
        using (Controller c = serve.Connect())
        {
            ExpectEqual("bad message. (the answer carries a result, not QSingle values)",
                        Error(c.QSingleAsync("s1"), true), "qsingle");
            ExpectEqual("bad message. (the answer carries a result, not QAll entries)",
                        Error(c.QAllAsync(), true), "qall");
            ExpectEqual(1001, Outcome(c.KickAsync("s1", "bob")).FlowId, "kick answered as create");
        }
    }

    private static void ThreadsAndTasksEachGetTheirOwnOutcome()
    {
        const int Threads = 8, TasksPerThread = 50;
        using (var serve = new Serve())
        using (Controller c = serve.Connect())
        {
            var mismatches = new List<string>();
            var threads = new List<Thread>();
            for (int t = 0; t < Threads; ++t)
            {
                int thread = t;
                threads.Add(new Thread(() =>
                {
                    try
                    {
                        // Same kind of command, all in flight at once: each
                        // answer names the session its request asked about.
                        var tasks = new List<Task<QSingleResult>>();
                        for (int i = 0; i < TasksPerThread; ++i)
                        {
                            tasks.Add(c.QSingleAsync("t" + thread + "-" + i));
                        }
                        for (int i = 0; i < TasksPerThread; ++i)
                        {
                            string asked = "t" + thread + "-" + i;
                            QSingleResult single = Outcome(tasks[i]);
                            if (single[0] != asked) lock (mismatches) mismatches.Add(asked + " got " + single[0]);
                        }
                    }
                    catch (Exception e)
                    {
                        lock (mismatches) mismatches.Add(e.ToString());
                    }
                }));
            }
            foreach (Thread thread in threads) thread.Start();
            foreach (Thread thread in threads) thread.Join();
            ExpectEqual("", string.Join("; ", mismatches), "mismatched outcomes");
        }
    }

    private static void NonAsciiTextRoundTrips()
    {
        using (var serve = new Serve())
        using (Controller c = serve.Connect())
        {
            const string id = "\u00fc1", owner = "\u00e5sa", topic = "caf\u00e9 \u4f1a\u8bae \U0001F600";
            Outcome(c.CreateAsync(id, owner, topic, "\u00e5sa,\u00f8"));
            Outcome(c.CreateAsync("\u4f1a2", "\u5f20\u4e09", "\u6bcf\u5468", "\u5f20\u4e09"));
            ExpectEqual(id + "|found|" + owner + "|" + topic + "|\u00e5sa,\u00f8",
                        string.Join("|", Outcome(c.QSingleAsync(id)).Values.Take(5)), "qsingle");
            ExpectEqual(topic, Outcome(c.QAllAsync()).First(e => e.Session == id).Title, "qall");
        }
    }

    private static void CodePageAndVersion()
    {
        ExpectEqual(version, Controller.Version, "version");
        Throws<ArgumentException>(() => Controller.SetCodePage("klingon"), "unknown code page");
        using (var serve = new Serve("--encoding", "gb2312"))
        {
            Controller.SetCodePage("GB18030");
            try
            {
                using (Controller c = serve.Connect())
                {
                    Outcome(c.CreateAsync("\u4f1a1", "\u5f20\u4e09", "\u6bcf\u5468", "\u5f20\u4e09"));
                    ExpectEqual("\u4f1a1|found|\u5f20\u4e09|\u6bcf\u5468",
                                string.Join("|", Outcome(c.QSingleAsync("\u4f1a1")).Values.Take(4)), "gb2312 answer");
                }
            }
            finally
            {
                Controller.SetCodePage("UTF-8");
            }
        }
    }

    private static void LogsGoWhereTheHostSays()
    {
        string directory = System.IO.Path.Combine(System.IO.Path.GetTempPath(),
                                                  "voicecontrol-dotnet-" + Process.GetCurrentProcess().Id);
        System.IO.Directory.CreateDirectory(directory);
        string sent = System.IO.Path.Combine(directory, "SendVoiceMsg.log");
        try
        {
            Throws<System.IO.DirectoryNotFoundException>(
                () => Controller.SetLogDirectory(System.IO.Path.Combine(directory, "missing")), "missing directory");
            using (var serve = new Serve())
            using (Controller c = serve.Connect())
            {
                Controller.SetLogDirectory(directory);
                Outcome(c.QSingleAsync("logged"));
                Expect(System.IO.File.ReadAllText(sent).Contains("logged"), "the request is logged");
                System.IO.File.Delete(sent);
                Controller.DisableLogs();
                Outcome(c.QSingleAsync("not logged"));
                Expect(!System.IO.File.Exists(sent), "no log once disabled");
            }
        }
        finally
        {
            Controller.SetLogDirectory(null);
            System.IO.Directory.Delete(directory, true);
        }
    }

    private static void DisposeCompletesTheCommandsInFlight()
    {
        using (var serve = new Serve("--delay", "300"))
        {
            Controller c = serve.Connect();
            var tasks = new List<Task<QSingleResult>>();
            for (int i = 0; i < 20; ++i) tasks.Add(c.QSingleAsync("d" + i));
            Task<IReadOnlyList<QAllEntry>> all = c.QAllAsync();
            c.Dispose();
            for (int i = 0; i < tasks.Count; ++i)
            {
                Expect(tasks[i].Status == TaskStatus.RanToCompletion, "task " + i + " is " + tasks[i].Status);
                ExpectEqual("d" + i, tasks[i].Result[0], "task " + i);
            }
            Expect(all.Status == TaskStatus.RanToCompletion, "qall is " + all.Status);
            Throws<ObjectDisposedException>(() => c.QAllAsync(), "a command after Dispose");
            c.Dispose();  // twice is harmless
        }
    }

    private static void CancellationEndsOnlyItsOwnCommand()
    {
        using (var serve = new Serve("--delay", "1000"))
        using (Controller c = serve.Connect())
        {
            var source = new CancellationTokenSource();
            Task<IReadOnlyList<QAllEntry>> cancelled = c.QAllAsync(source.Token);
            Task<IReadOnlyList<QAllEntry>> kept = c.QAllAsync();
            var watch = Stopwatch.StartNew();
            source.CancelAfter(50);
            Throws<TaskCanceledException>(() => Outcome(cancelled), "cancelled");
            Expect(watch.ElapsedMilliseconds < 800, "cancelled after " + watch.ElapsedMilliseconds + " ms");
            Expect(!kept.IsCompleted, "the other command goes on");
            ExpectEqual(0, Outcome(kept).Count, "the other command");

            Task<QSingleResult> early = c.QSingleAsync("x", source.Token);
            Expect(early.IsCanceled, "a cancelled token: nothing is sent");
        }
    }

    // A silent server of this test's own, to watch the connection close.
    private static void CancelBeforeTheAnswerClosesTheConnection()
    {
        var listener = new TcpListener(IPAddress.Loopback, 0);
        listener.Start();  // left to the process's end should the test fail
        using (var c = new Controller("127.0.0.1", (ushort)((IPEndPoint)listener.LocalEndpoint).Port))
        using (var source = new CancellationTokenSource())
        {
            Task<IReadOnlyList<QAllEntry>> task = c.QAllAsync(source.Token);
            using (TcpClient peer = listener.AcceptTcpClient())
            {
                peer.ReceiveTimeout = 2000;  // within the 5-s answer time-out; a read that times out throws
                var buffer = new byte[65536];
                Expect(peer.GetStream().Read(buffer, 0, buffer.Length) > 0, "the request arrives");
                var watch = Stopwatch.StartNew();
                source.Cancel();
                Throws<TaskCanceledException>(() => Outcome(task), "cancelled");
                Expect(watch.ElapsedMilliseconds < 1000, "cancelled after " + watch.ElapsedMilliseconds + " ms");
                while (peer.GetStream().Read(buffer, 0, buffer.Length) > 0) { }
            }
        }
        listener.Stop();
    }

    // Also cancels racing the answers: each task ends once, either way.
    private static void CancelAfterTheOutcomeChangesNothing()
    {
        using (var serve = new Serve())
        using (Controller c = serve.Connect())
        {
            var source = new CancellationTokenSource();
            Task<QSingleResult> answered = c.QSingleAsync("a", source.Token);
            ExpectEqual("a", Outcome(answered)[0], "answered");
            source.Cancel();
            ExpectEqual(TaskStatus.RanToCompletion, answered.Status, "after the cancel");
            var sources = Enumerable.Range(0, 200).Select(i => new CancellationTokenSource(i % 10)).ToList();
            var tasks = sources.Select((s, i) => c.QSingleAsync("r" + i, s.Token)).ToList();
            for (int i = 0; i < tasks.Count; ++i)
            {
                try { ExpectEqual("r" + i, Outcome(tasks[i])[0], "raced " + i); }
                catch (TaskCanceledException) { }
            }
        }
    }

    // A listener whose accept queue is full: a connect to it waits.
    private static void NonblockingCallsReturnAtOnce()
    {
        var full = new Socket(AddressFamily.InterNetwork, SocketType.Stream, ProtocolType.Tcp);
        full.Bind(new IPEndPoint(IPAddress.Loopback, 0));
        full.Listen(0);
        var fillers = new List<Socket>();
        try
        {
            do fillers.Add(new Socket(AddressFamily.InterNetwork, SocketType.Stream, ProtocolType.Tcp));
            while (fillers.Count < 64 && fillers.Last().BeginConnect(full.LocalEndPoint, null, null).AsyncWaitHandle.WaitOne(300));
            using (var c = new Controller("127.0.0.1", (ushort)((IPEndPoint)full.LocalEndPoint).Port))
            using (var source = new CancellationTokenSource())
            {
                c.NonblockingCalls = true;
                var watch = Stopwatch.StartNew();
                Task<IReadOnlyList<QAllEntry>> task = c.QAllAsync(source.Token);
                Expect(watch.ElapsedMilliseconds < 300 && !task.IsCompleted, "returned after " + watch.ElapsedMilliseconds + " ms");
                source.Cancel();
                Throws<TaskCanceledException>(() => Outcome(task), "cancelled while connecting");
                Expect(watch.ElapsedMilliseconds < 2000, "ended after " + watch.ElapsedMilliseconds + " ms");
            }
        }
        finally
        {
            foreach (Socket filler in fillers) filler.Close();
            full.Close();
        }
    }

    private static void LogRecordsCarryRequestAndAnswer()
    {
        using (var serve = new Serve())
        using (Controller c = serve.Connect())
        {
            var records = new List<LogRecordEventArgs>();
            object from = null;
            c.LogRecord += (sender, record) => { lock (records) records.Add(record); from = sender; };
            Outcome(c.QSingleAsync("logged"));
            Expect(from == c, "the sender is the controller");
            ExpectEqual(2, records.Count, "records");
            Expect(records[0].Sent && records[0].ToString().StartsWith("QSINGLE /MyURL/ HTTP/1.1\r\n") &&
                   records[0].ToString().Contains("logged"), "request record: " + records[0]);
            Expect(!records[1].Sent && records[1].ToString().StartsWith("HTTP/1.1 200 OK\r\n"), "answer record: " + records[1]);
            ExpectEqual(records[0].RequestId, records[1].RequestId, "one request");
        }
    }

    private static void RequestEndedTellsTheTimeline()
    {
        using (var serve = new Serve("--delay", "20"))
        using (Controller c = serve.Connect())
        {
            var ended = new List<RequestEndedEventArgs>();
            int sentBytes = 0;
            c.LogRecord += (sender, record) => { if (record.Sent) sentBytes = record.Length; };
            c.RequestEnded += (sender, timeline) => { lock (ended) ended.Add(timeline); };
            Outcome(c.KickAsync("s1", "bob"));
            RequestEndedEventArgs t = ended.Single();
            ExpectEqual("1002 200  " + sentBytes, t.FlowId + " " + t.HttpStatus + " " + t.ErrorText + " " + t.BytesOut, "fields");
            long[] points = { t.QueuedUs, t.ConnectStartedUs, t.ConnectedUs, t.RequestWrittenUs,
                              t.FirstAnswerByteUs, t.AnswerCompleteUs, t.OutcomeDeliveredUs };
            for (int i = 0; i < points.Length; ++i)
                Expect(points[i] > 0 && (i == 0 || points[i - 1] <= points[i]), "timeline " + string.Join(" ", points));
            Expect(t.SinceQueued(t.AnswerCompleteUs) >= TimeSpan.FromMilliseconds(20) && t.BytesIn > 0, "answered after the delay");
        }
    }

    private static void GarbageCollectionWhileCommandsAreInFlight()
    {
        using (var serve = new Serve("--delay", "20"))
        {
            bool stop = false;
            var collector = new Thread(() =>
            {
                while (!Volatile.Read(ref stop))
                {
                    var garbage = new List<byte[]>();
                    for (int i = 0; i < 100; ++i) garbage.Add(new byte[1000]);
                    GC.Collect();
                    GC.WaitForPendingFinalizers();
                }
            });
            collector.Start();
            try
            {
                // Controllers that are never disposed, dropped with their
                // commands in flight: the finalizer must wait for them.
                var dropped = new List<Task<QSingleResult>>();
                for (int i = 0; i < 20; ++i) dropped.Add(serve.Connect().QSingleAsync("g" + i));
                using (Controller c = serve.Connect())
                {
                    var tasks = new List<Task<QSingleResult>>();
                    for (int i = 0; i < 300; ++i) tasks.Add(c.QSingleAsync("h" + i));
                    for (int i = 0; i < tasks.Count; ++i) ExpectEqual("h" + i, Outcome(tasks[i])[0], "task " + i);
                }
                for (int i = 0; i < dropped.Count; ++i) ExpectEqual("g" + i, Outcome(dropped[i])[0], "dropped " + i);
            }
            finally
            {
                Volatile.Write(ref stop, true);
                collector.Join();
            }
        }
    }

    // Left open on purpose, one command done: the program must still exit
    // (the binding releases it when the process exits).
    private static Controller leftOpen;

    private static void AControllerLeftOpenDoesNotHoldUpTheExit()
    {
        var serve = new Serve();
        leftOpen = serve.Connect();
        ExpectEqual(0, Outcome(leftOpen.QAllAsync()).Count, "qall");
        serve.Dispose();
    }

    private static int Main(string[] args)
    {
        if (args.Length < 2)
        {
            Console.Error.WriteLine("usage: mono VoiceControlTest.exe VOICECTL VERSION [TEST...]");
            return 2;
        }
        voicectl = args[0];
        version = args[1];
        var tests = new Dictionary<string, Action>
        {
            { "EveryCommandReturnsItsOutcome", EveryCommandReturnsItsOutcome },
            { "EachFailureRaisesTheLibraryText", EachFailureRaisesTheLibraryText },
            { "AnAnswerOfAnotherKindIsABadMessage", AnAnswerOfAnotherKindIsABadMessage },
            { "ThreadsAndTasksEachGetTheirOwnOutcome", ThreadsAndTasksEachGetTheirOwnOutcome },
            { "NonAsciiTextRoundTrips", NonAsciiTextRoundTrips },
            { "CodePageAndVersion", CodePageAndVersion },
            { "LogsGoWhereTheHostSays", LogsGoWhereTheHostSays },
            { "DisposeCompletesTheCommandsInFlight", DisposeCompletesTheCommandsInFlight },
            { "CancellationEndsOnlyItsOwnCommand", CancellationEndsOnlyItsOwnCommand },
            { "CancelBeforeTheAnswerClosesTheConnection", CancelBeforeTheAnswerClosesTheConnection },
            { "CancelAfterTheOutcomeChangesNothing", CancelAfterTheOutcomeChangesNothing },
            { "NonblockingCallsReturnAtOnce", NonblockingCallsReturnAtOnce },
            { "LogRecordsCarryRequestAndAnswer", LogRecordsCarryRequestAndAnswer },
            { "RequestEndedTellsTheTimeline", RequestEndedTellsTheTimeline },
            { "GarbageCollectionWhileCommandsAreInFlight", GarbageCollectionWhileCommandsAreInFlight },
            { "AControllerLeftOpenDoesNotHoldUpTheExit", AControllerLeftOpenDoesNotHoldUpTheExit },
            { "ChosenTimeOutsEndCommandsSooner", ChosenTimeOutsEndCommandsSooner },
        };
        IEnumerable<string> chosen = args.Length > 2 ? args.Skip(2) : tests.Keys;
        int failed = 0;
        foreach (string name in chosen)
        {
            Action test;
            if (!tests.TryGetValue(name, out test))
            {
                Console.WriteLine("no test named " + name);
                ++failed;
                continue;
            }
            var watch = Stopwatch.StartNew();
            try
            {
                test();
                Console.WriteLine("ok   {0} ({1} ms)", name, watch.ElapsedMilliseconds);
            }
            catch (Exception e)
            {
                ++failed;
                Console.WriteLine("FAIL {0}: {1}", name, e is Failure ? e.Message : e.ToString());
            }
        }
        Console.WriteLine(failed == 0 ? "all passed" : failed + " failed");
        return failed == 0 ? 0 : 1;
    }
}
