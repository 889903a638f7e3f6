// VoiceControl.cs: the C# (.NET) binding of voicecontrol, a thin layer over
// its C interface (voicecontrol/voicecontrol.h) through P/Invoke.
//
//   using (var controller = new VoiceControl.Controller("127.0.0.1", 8080))
//   {
//       CommandResult created = await controller.CreateAsync("s1", "alice", "sync", "alice,bob");
//       IReadOnlyList<QAllEntry> sessions = await controller.QAllAsync();
//       QSingleResult one = await controller.QSingleAsync("s1");
//   }
//
// Every command returns a Task that completes with the command's own outcome
// (the C interface's tag correlates them), fails with a
// VoiceControlException carrying the library's error text, or ends
// cancelled when its CancellationToken cancelled the command. The native
// library is "voicecontrol": voicecontrol.dll on Windows (beside the program,
// with the same bitness as the process), libvoicecontrol.so.1 on Linux (Mono:
// see VoiceControl.Net.dll.config). It compiles with Mono's mcs (C# 6):
//
//   mcs -target:library -out:VoiceControl.Net.dll VoiceControl.cs
//
// The assembly must not be called VoiceControl.dll: beside voicecontrol.dll,
// on a file system that ignores case, the two would be one file.
using System;
using System.Collections.Concurrent;
using System.Collections.Generic;
using System.Collections.ObjectModel;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;
using System.Threading.Tasks;

namespace VoiceControl
{
    /// <summary>The answer to Create (FlowID 1001), Kick (1002), Change (1003) or
    /// DsCall (1006): the server's result code and text.</summary>
    public sealed class CommandResult
    {
        internal CommandResult(int flowId, int code, string text)
        {
            FlowId = flowId;
            Code = code;
            Text = text;
        }

        /// <summary>The FlowID of the answer: which command it answers.</summary>
        public int FlowId { get; private set; }

        /// <summary>The server's result code.</summary>
        public int Code { get; private set; }

        /// <summary>The server's result text.</summary>
        public string Text { get; private set; }

        /// <summary>"FlowId Code Text".</summary>
        public override string ToString()
        {
            return FlowId + " " + Code + " " + Text;
        }
    }

    /// <summary>One entry of a QAll answer: its eight texts, named as voicectl
    /// names them. What they hold is the server's business; the names follow
    /// the simulator (voicectl serve). A QAll answer with a single entry
    /// delivers each text as it travelled, still ending in the comma that
    /// terminates its list.</summary>
    public sealed class QAllEntry
    {
        private readonly string[] fields;

        internal QAllEntry(string[] fields)
        {
            this.fields = fields;
        }

        /// <summary>The session's id (text 1).</summary>
        public string Session { get { return fields[0]; } }

        /// <summary>Its owner (text 2).</summary>
        public string Owner { get { return fields[1]; } }

        /// <summary>Its title (text 3).</summary>
        public string Title { get { return fields[2]; } }

        /// <summary>Its members (text 4).</summary>
        public string Members { get { return fields[3]; } }

        /// <summary>How many members were kicked (text 5).</summary>
        public string KickedCount { get { return fields[4]; } }

        /// <summary>The member changed last (text 6).</summary>
        public string ChangedMember { get { return fields[5]; } }

        /// <summary>The value it was changed to (text 7).</summary>
        public string ChangedValue { get { return fields[6]; } }

        /// <summary>The end time set by DsCall (text 8).</summary>
        public string EndTime { get { return fields[7]; } }

        /// <summary>The eight texts in order.</summary>
        public IReadOnlyList<string> Fields { get { return Array.AsReadOnly(fields); } }
    }

    /// <summary>The eighteen values of a QSingle answer, in order.</summary>
    public sealed class QSingleResult
    {
        private readonly string[] values;

        internal QSingleResult(string[] values)
        {
            this.values = values;
        }

        /// <summary>The eighteen values.</summary>
        public IReadOnlyList<string> Values { get { return Array.AsReadOnly(values); } }

        /// <summary>Value <paramref name="index"/> (0 to 17).</summary>
        public string this[int index] { get { return values[index]; } }
    }

    /// <summary>A command failed: <see cref="Text"/> is one of the library's error
    /// texts ("socket error.", "connect error.", "send error.", "timeout.",
    /// "init http parse.", "decode.", "param error.", "bad message.").</summary>
    public sealed class VoiceControlException : Exception
    {
        internal VoiceControlException(string text, string detail)
            : base(detail.Length == 0 ? text : text + " (" + detail + ")")
        {
            Text = text;
            Detail = detail;
        }

        /// <summary>The library's error text.</summary>
        public string Text { get; private set; }

        /// <summary>The reason behind it, as far as the library knows one; "" when
        /// it does not.</summary>
        public string Detail { get; private set; }
    }

    /// <summary>One log record of a command (<see cref="Controller.LogRecord"/>):
    /// the request as sent or the complete answer as received, the bytes one
    /// of the two log files would hold after its marker.</summary>
    public sealed class LogRecordEventArgs : EventArgs
    {
        private readonly byte[] bytes;

        internal LogRecordEventArgs(bool sent, byte[] bytes, long requestId)
        {
            Sent = sent;
            this.bytes = bytes;
            RequestId = requestId;
        }

        /// <summary>True: the request as sent (SendVoiceMsg.log); false: the
        /// complete answer as received (RecvVoiceMsg.log).</summary>
        public bool Sent { get; private set; }

        /// <summary>The request's number: 1, 2, ... per controller in the order
        /// the commands were issued while a handler was subscribed; the same in
        /// its <see cref="RequestEndedEventArgs"/>.</summary>
        public long RequestId { get; private set; }

        /// <summary>The count of bytes of the message.</summary>
        public int Length { get { return bytes.Length; } }

        /// <summary>The whole HTTP message as it travelled: a copy of its
        /// own.</summary>
        public byte[] GetBytes()
        {
            return (byte[])bytes.Clone();
        }

        /// <summary>The message read as UTF-8 (requests are UTF-8; an answer in
        /// another code page reads right only through
        /// <see cref="GetBytes"/>).</summary>
        public override string ToString()
        {
            return Encoding.UTF8.GetString(bytes);
        }
    }

    /// <summary>The timeline of one command (<see cref="Controller.RequestEnded"/>),
    /// told once its outcome has been delivered.
    ///
    /// <para>Every time is a monotonic clock's, in microseconds, comparable
    /// within the process only; 0 when the command never reached that point
    /// (a refused argument is never connected, an answer that never came has
    /// no first byte). <see cref="SinceQueued"/> makes one a duration.</para></summary>
    public sealed class RequestEndedEventArgs : EventArgs
    {
        internal RequestEndedEventArgs(Native.RequestEvents events)
        {
            RequestId = (long)events.RequestId;
            FlowId = events.FlowId;
            HttpStatus = events.HttpStatus;
            QueuedUs = events.QueuedUs;
            ConnectStartedUs = events.ConnectStartedUs;
            ConnectedUs = events.ConnectedUs;
            RequestWrittenUs = events.RequestWrittenUs;
            FirstAnswerByteUs = events.FirstAnswerByteUs;
            AnswerCompleteUs = events.AnswerCompleteUs;
            OutcomeDeliveredUs = events.OutcomeDeliveredUs;
            BytesOut = (long)events.BytesOut;
            BytesIn = (long)events.BytesIn;
            ErrorText = events.ErrorText == IntPtr.Zero ? null : Native.Text(events.ErrorText);
            ErrorDetail = Native.Text(events.ErrorDetail);
        }

        /// <summary>As <see cref="LogRecordEventArgs.RequestId"/>.</summary>
        public long RequestId { get; private set; }

        /// <summary>The command's FlowID: 1001 (Create) to 1006 (DsCall).</summary>
        public int FlowId { get; private set; }

        /// <summary>The answer's HTTP status code; 0 without a status line. An
        /// answer with status 4xx or 5xx that carries a well-formed message is
        /// still delivered as a result: here is where its status shows.</summary>
        public int HttpStatus { get; private set; }

        /// <summary>When the command was called.</summary>
        public long QueuedUs { get; private set; }

        /// <summary>When the connection attempt began.</summary>
        public long ConnectStartedUs { get; private set; }

        /// <summary>When the connection was made.</summary>
        public long ConnectedUs { get; private set; }

        /// <summary>When the request was handed to the system.</summary>
        public long RequestWrittenUs { get; private set; }

        /// <summary>When the answer's first byte was read.</summary>
        public long FirstAnswerByteUs { get; private set; }

        /// <summary>When the answer was complete.</summary>
        public long AnswerCompleteUs { get; private set; }

        /// <summary>When the outcome's last callback returned.</summary>
        public long OutcomeDeliveredUs { get; private set; }

        /// <summary>Bytes of the request sent.</summary>
        public long BytesOut { get; private set; }

        /// <summary>Bytes of the answer received.</summary>
        public long BytesIn { get; private set; }

        /// <summary>The error text the command ended with ("timeout.",
        /// "cancelled.", ...); null when it ended in a result.</summary>
        public string ErrorText { get; private set; }

        /// <summary>The error's detail; "" when there is none.</summary>
        public string ErrorDetail { get; private set; }

        /// <summary>How long after <see cref="QueuedUs"/> a point of this
        /// timeline came; null for a point never reached (0).</summary>
        /// <param name="pointUs">one of the times of this timeline</param>
        public TimeSpan? SinceQueued(long pointUs)
        {
            if (pointUs == 0) return null;
            return TimeSpan.FromTicks((pointUs - QueuedUs) * (TimeSpan.TicksPerMillisecond / 1000));
        }
    }

    /// <summary>A controller of the voice server at one IPv4 address and port.
    ///
    /// <para>Commands may be issued from any number of threads at once and may
    /// overlap; each task completes with its own command's outcome, within the
    /// library's time-outs (5 seconds to connect, on the calling thread, then 5
    /// seconds for the answer, unless <see cref="SetTimeouts"/> chose others). Failures found before the request goes out
    /// (connect error., param error., ...) complete the task before the method
    /// returns, unless <see cref="NonblockingCalls"/>. Continuations never run
    /// on the library's receive threads.</para>
    ///
    /// <para>What the texts mean lies with the server; the parameters are named
    /// as voicectl and its simulator read them. A text whose UTF-8 form exceeds
    /// 255 bytes, or that holds a character XML cannot carry, fails the task
    /// with "param error." and nothing is sent.</para>
    ///
    /// <para>A command's <see cref="CancellationToken"/> cancels the command
    /// itself: the library shuts its connection down (its connect attempt or
    /// its wait for the answer ends at once), and the task ends cancelled
    /// (<see cref="TaskCanceledException"/>). A token cancelled once the
    /// outcome is being delivered changes nothing: the task completes with
    /// that outcome. A token cancelled before the call sends nothing.</para>
    ///
    /// <para>With <see cref="NonblockingCalls"/> no command call ever waits:
    /// the connect and the send happen on a thread of the library, and every
    /// failure completes the task later.</para>
    ///
    /// <para><see cref="LogRecord"/> and <see cref="RequestEnded"/> show each
    /// request's bytes and timeline as they happen.</para>
    ///
    /// <para>Dispose waits for the commands in flight (at most their time-out)
    /// and completes their tasks first.</para></summary>
    public sealed class Controller : IDisposable
    {
        private readonly ControllerHandle handle;
        private bool nonblockingCalls;

        /// <summary>A controller of the server at an IPv4 address and port.</summary>
        /// <param name="ipv4Address">the address in dotted form, e.g.
        /// "192.0.2.7"; the library resolves no host names</param>
        /// <param name="port">the server's TCP port</param>
        /// <exception cref="ArgumentException">the address is not an IPv4
        /// address in dotted form (a host name, say)</exception>
        public Controller(string ipv4Address, ushort port)
        {
            byte[] address = Native.Utf8("ipv4Address", ipv4Address);
            Native.Callbacks callbacks = Native.CallbackTable;
            handle = Native.vc_controller_create(ref callbacks, IntPtr.Zero);
            if (handle.IsInvalid)
            {
                throw new OutOfMemoryException("vc_controller_create");
            }
            handle.Track(this);
            int status = Native.vc_set_server(handle, address, port);
            if (status != 0)
            {
                handle.Dispose();
                throw Native.StatusError(status);
            }
        }

        /// <summary>Chooses how long the commands issued from now on wait: for the
        /// connection ("connect error." after it, on the calling thread), and for
        /// the complete answer once the request went out ("timeout."). Both are 5
        /// seconds until it is called; a command in flight keeps its own. Call it
        /// while no other call on this controller runs.</summary>
        /// <param name="connect">the connect time-out, 1 ms to 10 minutes, kept to
        /// the millisecond</param>
        /// <param name="answer">the answer time-out, 1 ms to 10 minutes, kept to
        /// the millisecond</param>
        /// <exception cref="ArgumentOutOfRangeException">a time-out outside 1 ms to
        /// 10 minutes; nothing was changed</exception>
        public void SetTimeouts(TimeSpan connect, TimeSpan answer)
        {
            uint connectMs = Native.TimeoutMilliseconds("connect", connect);
            uint answerMs = Native.TimeoutMilliseconds("answer", answer);
            int status = Native.vc_set_timeouts(handle, connectMs, answerMs);
            if (status != 0)
            {
                throw Native.StatusError(status);
            }
        }

        /// <summary>Whether a command call may block the calling thread; false
        /// until set. False: a command connects and sends on the calling thread,
        /// which it blocks for at most the connect time-out, and a failure found
        /// before the request went out completes the task before the method
        /// returns. True: a command only queues its request and returns at once
        /// (for a GUI or event-loop thread that must never wait); the connect,
        /// the send and every outcome come on a thread of the library. Commands
        /// already issued keep the mode they were issued in. Set it while no
        /// other call on this controller runs, as <see cref="SetTimeouts"/>.</summary>
        public bool NonblockingCalls
        {
            get { return nonblockingCalls; }
            set
            {
                int status = Native.vc_set_nonblocking_calls(handle, value ? 1 : 0);
                if (status != 0) throw Native.StatusError(status);
                nonblockingCalls = value;
            }
        }

        /// <summary>Whether the two log files (see <see cref="SetLogDirectory"/>)
        /// are still written while <see cref="LogRecord"/> has handlers; false
        /// until set: the handlers get the records instead of the files. Without
        /// handlers the files are written either way. Set it while no other call
        /// on this controller runs; it holds for the commands issued from then
        /// on.</summary>
        public bool KeepLogFiles
        {
            get { lock (handle.Observers) return handle.Observers.KeepLogFiles; }
            set { handle.Observers.SetKeepLogFiles(handle, value); }
        }

        /// <summary>Each log record of the commands issued from now on: the
        /// request as sent and the complete answer as received (the bytes
        /// SendVoiceMsg.log and RecvVoiceMsg.log would hold), in place of the two
        /// log files unless <see cref="KeepLogFiles"/>.
        ///
        /// <para>Raised on the thread that sends the request (the calling thread,
        /// or a library thread with <see cref="NonblockingCalls"/>) and on the
        /// one that receives the answer, so possibly on several threads at once,
        /// and always before the command's task completes. The command waits
        /// for the handlers: keep them quick. An exception a handler throws is
        /// dropped, since it cannot travel into the library's thread. Subscribe
        /// and unsubscribe while no other call on this controller runs, as
        /// <see cref="SetTimeouts"/>.</para></summary>
        public event EventHandler<LogRecordEventArgs> LogRecord
        {
            add { handle.Observers.AddLogRecord(handle, value); }
            remove { handle.Observers.RemoveLogRecord(handle, value); }
        }

        /// <summary>The timeline of each command issued from now on, once its
        /// outcome has been delivered and before its task completes, on the
        /// thread that delivered it: when it was queued, connected, written and
        /// answered, its bytes, its HTTP status and its error. As for
        /// <see cref="LogRecord"/>: keep the handlers quick; an exception they
        /// throw is dropped; subscribe while no other call on this controller
        /// runs. Without handlers the library reads no clock for
        /// timelines.</summary>
        public event EventHandler<RequestEndedEventArgs> RequestEnded
        {
            add { handle.Observers.AddRequestEnded(handle, value); }
            remove { handle.Observers.RemoveRequestEnded(handle, value); }
        }

        /// <summary>The library's version, "MAJOR.MINOR.PATCH".</summary>
        public static string Version
        {
            get { return Native.Text(Native.vc_version()); }
        }

        /// <summary>Reads the server's answers with code page <paramref name="name"/>
        /// ("UTF-8", "GB18030", "GBK", "GB2312", "BIG5", "SHIFT_JIS", "EUC-KR",
        /// "WINDOWS-1252", any letter case) in this whole process; strings stay
        /// strings either way. Call it before the first command.</summary>
        /// <exception cref="ArgumentException">a name the library does not
        /// know</exception>
        public static void SetCodePage(string name)
        {
            int status = Native.vc_set_code_page(Native.Utf8("name", name));
            if (status != 0)
            {
                throw new ArgumentException("unknown code page: " + name, "name");
            }
        }

        /// <summary>Chooses the directory of the two log files, for the whole
        /// process: SendVoiceMsg.log (the last request sent) and RecvVoiceMsg.log
        /// (the last complete answer). By default they lie in "../" of the
        /// working directory. Also turns logging on again after
        /// <see cref="DisableLogs"/>.</summary>
        /// <param name="directory">the directory; a relative one is taken
        /// relative to the working directory at each record; null or "": back to
        /// the default</param>
        /// <exception cref="System.IO.DirectoryNotFoundException">the directory
        /// does not exist; nothing was changed</exception>
        public static void SetLogDirectory(string directory)
        {
            byte[] utf8 = directory == null ? null : Native.Utf8("directory", directory);
            if (Native.vc_set_log_directory(utf8) != 0)
            {
                throw new System.IO.DirectoryNotFoundException("no such directory: " + directory);
            }
        }

        /// <summary>Writes no log files from now on, in the whole process, until
        /// the next <see cref="SetLogDirectory"/>.</summary>
        public static void DisableLogs()
        {
            Native.vc_disable_logs();
        }

        /// <summary>CREATE with four texts.</summary>
        /// <param name="session">first text: the new session's id</param>
        /// <param name="owner">second text: its owner</param>
        /// <param name="title">third text: its title</param>
        /// <param name="members">fourth text: its members, e.g. "alice,bob"</param>
        /// <param name="cancellation">cancels the command: its connection is
        /// closed and the task ends cancelled (see <see cref="Controller"/>)</param>
        /// <returns>the result (FlowID 1001)</returns>
        public Task<CommandResult> CreateAsync(string session, string owner, string title, string members,
                                               CancellationToken cancellation = default(CancellationToken))
        {
            byte[] ua = Native.Utf8("session", session), ub = Native.Utf8("owner", owner),
                   uc = Native.Utf8("title", title), ud = Native.Utf8("members", members);
            return Issue(Request.PickResult, cancellation,
                         (h, tag) => Native.vc_create(h, ua, ub, uc, ud, tag));
        }

        /// <summary>KICK with two texts.</summary>
        /// <param name="session">first text: the session's id</param>
        /// <param name="member">second text: the member to remove</param>
        /// <param name="cancellation">cancels the command: its connection is
        /// closed and the task ends cancelled (see <see cref="Controller"/>)</param>
        /// <returns>the result (FlowID 1002)</returns>
        public Task<CommandResult> KickAsync(string session, string member,
                                             CancellationToken cancellation = default(CancellationToken))
        {
            byte[] ua = Native.Utf8("session", session), ub = Native.Utf8("member", member);
            return Issue(Request.PickResult, cancellation, (h, tag) => Native.vc_kick(h, ua, ub, tag));
        }

        /// <summary>CHANGE with two texts and a number.</summary>
        /// <param name="session">first text: the session's id</param>
        /// <param name="member">second text: the member whose setting changes</param>
        /// <param name="value">the number, sent in decimal: the new setting</param>
        /// <param name="cancellation">cancels the command: its connection is
        /// closed and the task ends cancelled (see <see cref="Controller"/>)</param>
        /// <returns>the result (FlowID 1003)</returns>
        public Task<CommandResult> ChangeAsync(string session, string member, ushort value,
                                               CancellationToken cancellation = default(CancellationToken))
        {
            byte[] ua = Native.Utf8("session", session), ub = Native.Utf8("member", member);
            return Issue(Request.PickResult, cancellation,
                         (h, tag) => Native.vc_change(h, ua, ub, value, tag));
        }

        /// <summary>QALL.</summary>
        /// <param name="cancellation">cancels the command: its connection is
        /// closed and the task ends cancelled (see <see cref="Controller"/>)</param>
        /// <returns>the entries in the answer's order; empty when there are
        /// none</returns>
        public Task<IReadOnlyList<QAllEntry>> QAllAsync(
            CancellationToken cancellation = default(CancellationToken))
        {
            return Issue(Request.PickEntries, cancellation, (h, tag) => Native.vc_qall(h, tag));
        }

        /// <summary>QSINGLE with one text.</summary>
        /// <param name="session">the text: the session's id</param>
        /// <param name="cancellation">cancels the command: its connection is
        /// closed and the task ends cancelled (see <see cref="Controller"/>)</param>
        /// <returns>the eighteen values</returns>
        public Task<QSingleResult> QSingleAsync(string session,
                                                CancellationToken cancellation = default(CancellationToken))
        {
            byte[] ua = Native.Utf8("session", session);
            return Issue(Request.PickSingle, cancellation, (h, tag) => Native.vc_qsingle(h, ua, tag));
        }

        /// <summary>DSCALL with two texts and the local date and time
        /// <paramref name="durationSeconds"/> from now.</summary>
        /// <param name="session">first text: the session's id</param>
        /// <param name="member">second text: the member who ends it</param>
        /// <param name="durationSeconds">how far from now the sent time lies</param>
        /// <param name="cancellation">cancels the command: its connection is
        /// closed and the task ends cancelled (see <see cref="Controller"/>)</param>
        /// <returns>the result (FlowID 1006)</returns>
        public Task<CommandResult> DsCallAsync(string session, string member, uint durationSeconds,
                                               CancellationToken cancellation = default(CancellationToken))
        {
            byte[] ua = Native.Utf8("session", session), ub = Native.Utf8("member", member);
            return Issue(Request.PickResult, cancellation,
                         (h, tag) => Native.vc_dscall(h, ua, ub, durationSeconds, tag));
        }

        /// <summary>Waits for the commands in flight (at most their time-out),
        /// completes their tasks, and releases the controller.
        /// Commands issued afterwards throw ObjectDisposedException. When a
        /// command is being issued on another thread at that moment (or a
        /// cancelled token is being passed on to the library, on a pool
        /// thread), the release waits for that call and then happens on its
        /// thread.</summary>
        public void Dispose()
        {
            handle.Dispose();
        }

        // Issues one command under a new tag. The request keeps the handle,
        // so an undisposed controller is not finalized while a command of
        // it is in flight.
        private Task<T> Issue<T>(Func<Request, T> pick, CancellationToken cancellation,
                                 Func<ControllerHandle, IntPtr, int> send)
        {
            var request = new Request<T>(handle, pick);
            IntPtr tag = Request.Register(request);
            if (!request.Watch(cancellation))
            {
                // Cancelled before it went out: nothing is sent.
                Request.Unregister(tag);
                return request.Task;
            }
            int status;
            try
            {
                Native.Issuing = true;
                status = send(handle, tag);
            }
            catch
            {
                Request.Unregister(tag);
                throw;
            }
            finally
            {
                Native.Issuing = false;
            }
            if (status != 0)
            {
                // Nothing was sent and no callback will come.
                Request.Unregister(tag);
                throw Native.StatusError(status);
            }
            request.Issued();
            return request.Task;
        }
    }

    // What the callbacks of one command have told so far.
    //
    // A cancel reaches the library by the command's tag (vc_cancel), which
    // the library knows from the moment the command call starts until the
    // outcome is being delivered; vc_cancel outside that finds nothing and
    // does nothing. So the token's callback cancels at once, and the
    // command call, once it has returned, cancels again if the token asked
    // meanwhile: one of the two lands while the library knows the tag, or
    // the outcome has come first and stands. The task ends as the library's
    // outcome says, "cancelled." or another, after on_done, exactly once.
    internal abstract class Request
    {
        // Requests in flight by tag. The callbacks serve every controller and
        // live as long as the program, so the library never calls a collected
        // delegate.
        private static readonly ConcurrentDictionary<IntPtr, Request> InFlight =
            new ConcurrentDictionary<IntPtr, Request>();
        private static int lastTag;

        // The library's error text of a cancelled command.
        private const string CancelledText = "cancelled.";

        internal static readonly Func<Request, CommandResult> PickResult = r =>
        {
            if (r.result == null) throw r.OtherAnswer("a result");
            return r.result;
        };
        internal static readonly Func<Request, IReadOnlyList<QAllEntry>> PickEntries = r =>
        {
            if (r.entries == null) throw r.OtherAnswer("QAll entries");
            return new ReadOnlyCollection<QAllEntry>(r.entries);
        };
        internal static readonly Func<Request, QSingleResult> PickSingle = r =>
        {
            if (r.single == null) throw r.OtherAnswer("QSingle values");
            return r.single;
        };

        // Keeps the controller's handle alive while the command is in flight.
        protected readonly ControllerHandle Owner;
        private IntPtr tag;
        private VoiceControlException error;
        private CommandResult result;
        private List<QAllEntry> entries;
        private QSingleResult single;
        private string answered = "nothing";
        private CancellationToken cancellation;
        private CancellationTokenRegistration registration;
        private int cancelAsked;  // 1 once the token asked
        private int ended;        // 1 once the command is over (or was never issued)

        protected Request(ControllerHandle owner)
        {
            Owner = owner;
        }

        protected CancellationToken Cancellation { get { return cancellation; } }

        internal static IntPtr Register(Request request)
        {
            for (;;)
            {
                var tag = new IntPtr(Interlocked.Increment(ref lastTag));
                if (InFlight.TryAdd(tag, request))
                {
                    request.tag = tag;
                    return tag;
                }
            }
        }

        // The command was not issued after all: forget it.
        internal static void Unregister(IntPtr tag)
        {
            Request request;
            if (!InFlight.TryRemove(tag, out request)) return;
            request.End();
            request.Forget();
        }

        internal static Request Find(IntPtr tag)
        {
            Request request;
            return InFlight.TryGetValue(tag, out request) ? request : null;
        }

        // Follows `token` from now until the command ends; false when it is
        // cancelled already (the callback then ran here, inside Register).
        internal bool Watch(CancellationToken token)
        {
            if (!token.CanBeCanceled) return true;
            cancellation = token;
            registration = token.Register(OnCancel);
            return Volatile.Read(ref cancelAsked) == 0;
        }

        // The command call has returned.
        internal void Issued()
        {
            if (Volatile.Read(ref cancelAsked) != 0) CancelInLibrary();
        }

        // The token's callback runs on the thread that cancels, and the
        // registration's Dispose (when the command ends, on a library thread)
        // waits for a callback under way. vc_cancel itself therefore runs on
        // a pool thread: were this thread to drop the handle's last reference
        // in it, the release (vc_controller_destroy) would wait for the
        // commands in flight, and their ends for this callback.
        private void OnCancel()
        {
            if (Interlocked.Exchange(ref cancelAsked, 1) != 0) return;
            ThreadPool.QueueUserWorkItem(request => ((Request)request).CancelInLibrary(), this);
        }

        private void CancelInLibrary()
        {
            if (Volatile.Read(ref ended) != 0) return;
            try
            {
                // VC_ERROR_NOT_IN_FLIGHT: too early (Issued cancels again) or
                // too late (the outcome stands).
                Native.vc_cancel(Owner, tag);
            }
            catch (Exception)
            {
                // The controller was disposed: its commands are over.
            }
        }

        private void End()
        {
            Volatile.Write(ref ended, 1);
            registration.Dispose();
        }

        internal void SetError(string text, string detail)
        {
            error = new VoiceControlException(text, detail);
        }

        internal void SetResult(CommandResult answer)
        {
            result = answer;
            answered = "a result";
        }

        internal void AddEntry(QAllEntry entry)
        {
            if (entries == null) entries = new List<QAllEntry>();
            if (entry != null) entries.Add(entry);
            answered = "QAll entries";
        }

        internal void SetValues(QSingleResult values)
        {
            single = values;
            answered = "QSingle values";
        }

        // The command is over: complete its task. on_done comes once per tag,
        // and only the thread that removes the request finishes it.
        internal static void Done(IntPtr tag)
        {
            Request request;
            if (!InFlight.TryRemove(tag, out request)) return;
            request.End();
            request.Finish();
        }

        // Something went wrong in a callback of this binding (out of
        // memory): the task fails with it rather than the receive thread.
        internal static void Fail(IntPtr tag, Exception failure)
        {
            Request request = Find(tag);
            if (request != null) request.FailWith(failure);
        }

        protected abstract void Finish();

        protected abstract void Forget();

        protected abstract void FailWith(Exception failure);

        protected VoiceControlException Failure { get { return error; } }

        // The outcome is the library's cancel: the token asked for it (the
        // tags are this binding's own, so nobody else cancels them).
        protected bool CancelledByToken
        {
            get { return error != null && error.Text == CancelledText; }
        }

        // The answer belongs to another kind of command: an answer whose
        // FlowID names another command is delivered as this command's
        // outcome by the library, but cannot be this task's value.
        private VoiceControlException OtherAnswer(string wanted)
        {
            return new VoiceControlException(
                "bad message.", "the answer carries " + answered + ", not " + wanted);
        }
    }

    internal sealed class Request<T> : Request
    {
        private readonly TaskCompletionSource<T> source =
            new TaskCompletionSource<T>(TaskCreationOptions.RunContinuationsAsynchronously);
        private readonly Func<Request, T> pick;

        internal Request(ControllerHandle owner, Func<Request, T> pick)
            : base(owner)
        {
            this.pick = pick;
        }

        internal Task<T> Task { get { return source.Task; } }

        // Never issued: the token cancelled it first, or the call threw (the
        // task is then dropped, the exception reaching the caller).
        protected override void Forget()
        {
            if (Cancellation.IsCancellationRequested) source.TrySetCanceled(Cancellation);
        }

        protected override void Finish()
        {
            GC.KeepAlive(Owner);
            if (CancelledByToken)
            {
                source.TrySetCanceled(Cancellation);
                return;
            }
            if (Failure != null)
            {
                source.TrySetException(Failure);
                return;
            }
            try
            {
                source.TrySetResult(pick(this));
            }
            catch (Exception failure)
            {
                source.TrySetException(failure);
            }
        }

        protected override void FailWith(Exception failure)
        {
            source.TrySetException(failure);
        }
    }

    // The handlers of one controller's LogRecord and RequestEnded events and
    // its KeepLogFiles choice. The library's hooks are static delegates (so
    // none it may call is ever collected) and find these through their user
    // pointer: a weak GC handle, which tracks resurrection so that it still
    // holds while the controller handle is finalized. A strong one would
    // keep a controller nobody disposed alive for ever through the handlers
    // it references; the controller handle itself keeps this alive, and the
    // library calls the hooks only while it lives.
    internal sealed class Observers
    {
        internal readonly Controller Sender;
        // Read by the hooks without the lock: a delegate never changes, the
        // field only points to another.
        internal volatile EventHandler<LogRecordEventArgs> LogRecord;
        internal volatile EventHandler<RequestEndedEventArgs> RequestEnded;
        internal bool KeepLogFiles;
        private GCHandle self;

        internal Observers(Controller sender)
        {
            Sender = sender;
        }

        internal static Observers From(IntPtr user)
        {
            return GCHandle.FromIntPtr(user).Target as Observers;
        }

        internal void AddLogRecord(ControllerHandle handle, EventHandler<LogRecordEventArgs> handler)
        {
            lock (this) Update(handle, LogRecord + handler, RequestEnded, KeepLogFiles);
        }

        internal void RemoveLogRecord(ControllerHandle handle, EventHandler<LogRecordEventArgs> handler)
        {
            lock (this)
            {
                // A disposed controller calls no hook: nothing to tell it.
                if (handle.IsClosed) LogRecord -= handler;
                else Update(handle, LogRecord - handler, RequestEnded, KeepLogFiles);
            }
        }

        internal void AddRequestEnded(ControllerHandle handle, EventHandler<RequestEndedEventArgs> handler)
        {
            lock (this) Update(handle, LogRecord, RequestEnded + handler, KeepLogFiles);
        }

        internal void RemoveRequestEnded(ControllerHandle handle, EventHandler<RequestEndedEventArgs> handler)
        {
            lock (this)
            {
                // A disposed controller calls no hook: nothing to tell it.
                if (handle.IsClosed) RequestEnded -= handler;
                else Update(handle, LogRecord, RequestEnded - handler, KeepLogFiles);
            }
        }

        internal void SetKeepLogFiles(ControllerHandle handle, bool keep)
        {
            lock (this) Update(handle, LogRecord, RequestEnded, keep);
        }

        // Tells the library only what changed: a hook is set while its event
        // has handlers, and every vc_set_* call keeps a small record in the
        // library until the controller goes. On a refusal (a disposed
        // controller) nothing changes here either.
        private void Update(ControllerHandle handle, EventHandler<LogRecordEventArgs> log,
                            EventHandler<RequestEndedEventArgs> ended, bool keep)
        {
            bool logChanged = (log == null) != (LogRecord == null) || (log != null && keep != KeepLogFiles);
            bool endedChanged = (ended == null) != (RequestEnded == null);
            if (!self.IsAllocated) self = GCHandle.Alloc(this, GCHandleType.WeakTrackResurrection);
            IntPtr user = GCHandle.ToIntPtr(self);
            if (logChanged)
            {
                Check(Native.vc_set_log_hook(handle, log == null ? IntPtr.Zero : Native.LogHook, user,
                                             keep ? 1 : 0));
            }
            if (endedChanged)
            {
                try
                {
                    Check(Native.vc_set_event_hook(handle, ended == null ? IntPtr.Zero : Native.EventHook,
                                                   user));
                }
                catch
                {
                    if (logChanged)
                    {
                        Native.vc_set_log_hook(handle, LogRecord == null ? IntPtr.Zero : Native.LogHook,
                                               user, KeepLogFiles ? 1 : 0);
                    }
                    throw;
                }
            }
            LogRecord = log;
            RequestEnded = ended;
            KeepLogFiles = keep;
        }

        private static void Check(int status)
        {
            if (status != 0) throw Native.StatusError(status);
        }

        // The controller is destroyed: no hook will come any more.
        internal void Release()
        {
            lock (this)
            {
                if (self.IsAllocated) self.Free();
            }
        }
    }

    // The controller as the C interface knows it: vc_controller_destroy on
    // release. A SafeHandle is never released while a P/Invoke call that got
    // it is still running, which keeps vc_controller_destroy from running
    // beside another call on the same controller, as the library requires.
    //
    // Controllers still alive when the process exits are released then. The
    // library keeps a controller's receive threads waiting for its next
    // request, and Mono waits at exit for every thread that ever ran a
    // callback, which these threads only end once their controller is
    // released.
    internal sealed class ControllerHandle : SafeHandle
    {
        // Every handle not yet released, by a number of its own; weakly, so
        // that a dropped controller is still finalized (the references live
        // on until its finalizer has run).
        private static readonly Dictionary<long, WeakReference> Unreleased =
            new Dictionary<long, WeakReference>();
        private static long lastNumber;
        private long number;
        private Observers observers;

        static ControllerHandle()
        {
            AppDomain.CurrentDomain.ProcessExit += (sender, arguments) => ReleaseAll();
        }

        private ControllerHandle() : base(IntPtr.Zero, true)
        {
        }

        public override bool IsInvalid { get { return handle == IntPtr.Zero; } }

        // The handlers of the controller's events; the handle owns them, as
        // the library calls them for as long as the handle lives.
        internal Observers Observers { get { return observers; } }

        // Called once the handle holds `controller`.
        internal void Track(Controller controller)
        {
            observers = new Observers(controller);
            lock (Unreleased)
            {
                number = ++lastNumber;
                Unreleased.Add(number, new WeakReference(this, true));
            }
        }

        protected override bool ReleaseHandle()
        {
            Native.vc_controller_destroy(handle);
            // No hook is called any more.
            if (observers != null) observers.Release();
            lock (Unreleased) Unreleased.Remove(number);
            return true;
        }

        private static void ReleaseAll()
        {
            var handles = new List<ControllerHandle>();
            lock (Unreleased)
            {
                foreach (WeakReference reference in Unreleased.Values)
                {
                    var handle = reference.Target as ControllerHandle;
                    if (handle != null) handles.Add(handle);
                }
            }
            foreach (ControllerHandle handle in handles) handle.Dispose();
        }
    }

    internal static class Native
    {
        private const string Library = "voicecontrol";
        private const int QAllFields = 8;
        private const int QSingleValues = 18;

        [StructLayout(LayoutKind.Sequential)]
        internal struct Callbacks
        {
            internal IntPtr OnError;
            internal IntPtr OnCommandResult;
            internal IntPtr OnQAllEmpty;
            internal IntPtr OnQAllEntry;
            internal IntPtr OnQSingleResult;
            internal IntPtr OnDone;
        }

        // vc_log_record and vc_request_events. Sequential without Pack: the
        // marshaller then places each member as the platform's C compiler
        // does, and their 64-bit members are where platforms differ. They are
        // aligned to 8 on 64-bit systems and on 32-bit Windows (MSVC and
        // mingw-w64 alike), to 4 on 32-bit x86 Linux (the System V i386 ABI,
        // which Mono follows there), so vc_request_events has 4 bytes of
        // padding before queued_us on 32-bit Windows and none on 32-bit
        // Linux. Any fixed Pack would be wrong on one of them.
        [StructLayout(LayoutKind.Sequential)]
        internal struct LogRecord
        {
            internal int Sent;
            internal IntPtr Bytes;
            internal uint Length;
            internal IntPtr Tag;
            internal ulong RequestId;
        }

        [StructLayout(LayoutKind.Sequential)]
        internal struct RequestEvents
        {
            internal ulong RequestId;
            internal IntPtr Tag;
            internal int FlowId;
            internal int HttpStatus;
            internal long QueuedUs;
            internal long ConnectStartedUs;
            internal long ConnectedUs;
            internal long RequestWrittenUs;
            internal long FirstAnswerByteUs;
            internal long AnswerCompleteUs;
            internal long OutcomeDeliveredUs;
            internal ulong BytesOut;
            internal ulong BytesIn;
            internal IntPtr ErrorText;
            internal IntPtr ErrorDetail;
        }

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        private delegate void HookCallback(IntPtr user, IntPtr record);

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        private delegate void TextCallback(IntPtr user, IntPtr tag, IntPtr text);

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        private delegate void ResultCallback(IntPtr user, IntPtr tag, int flowId, int code,
                                             IntPtr text);

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        private delegate void TagCallback(IntPtr user, IntPtr tag);

        // The delegates behind the callback table, in static fields: they are
        // never collected, so no receive thread can call a freed one.
        private static readonly TextCallback OnErrorDelegate = OnError;
        private static readonly ResultCallback OnCommandResultDelegate = OnCommandResult;
        private static readonly TagCallback OnQAllEmptyDelegate = OnQAllEmpty;
        private static readonly TextCallback OnQAllEntryDelegate = OnQAllEntry;
        private static readonly TextCallback OnQSingleResultDelegate = OnQSingleResult;
        private static readonly TagCallback OnDoneDelegate = OnDone;

        internal static readonly Callbacks CallbackTable = new Callbacks
        {
            OnError = Marshal.GetFunctionPointerForDelegate(OnErrorDelegate),
            OnCommandResult = Marshal.GetFunctionPointerForDelegate(OnCommandResultDelegate),
            OnQAllEmpty = Marshal.GetFunctionPointerForDelegate(OnQAllEmptyDelegate),
            OnQAllEntry = Marshal.GetFunctionPointerForDelegate(OnQAllEntryDelegate),
            OnQSingleResult = Marshal.GetFunctionPointerForDelegate(OnQSingleResultDelegate),
            OnDone = Marshal.GetFunctionPointerForDelegate(OnDoneDelegate),
        };

        // The hooks serve every controller, in static fields for the same
        // reason; the user pointer names the controller's Observers.
        private static readonly HookCallback OnLogRecordDelegate = OnLogRecord;
        private static readonly HookCallback OnRequestEventsDelegate = OnRequestEvents;
        internal static readonly IntPtr LogHook = Marshal.GetFunctionPointerForDelegate(OnLogRecordDelegate);
        internal static readonly IntPtr EventHook = Marshal.GetFunctionPointerForDelegate(OnRequestEventsDelegate);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern IntPtr vc_version();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern IntPtr vc_error_detail();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int vc_set_code_page(byte[] name);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int vc_set_log_directory(byte[] directory);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void vc_disable_logs();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern ControllerHandle vc_controller_create(ref Callbacks callbacks,
                                                                     IntPtr user);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void vc_controller_destroy(IntPtr controller);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int vc_set_server(ControllerHandle controller, byte[] address,
                                                 ushort port);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int vc_set_timeouts(ControllerHandle controller, uint connectMs,
                                                   uint answerMs);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int vc_cancel(ControllerHandle controller, IntPtr tag);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int vc_set_nonblocking_calls(ControllerHandle controller, int on);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int vc_set_log_hook(ControllerHandle controller, IntPtr hook,
                                                   IntPtr user, int keepFiles);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int vc_set_event_hook(ControllerHandle controller, IntPtr hook,
                                                     IntPtr user);

        // The longest time-out the library takes, in milliseconds.
        private const double MaxTimeoutMs = 600000;

        // A time-out as vc_set_timeouts takes it: whole milliseconds (rounded,
        // not cut, so that a TimeSpan built from seconds keeps its value), from
        // 1 to 10 minutes; outside that the library would refuse it anyway, and
        // uint could not carry every value outside it.
        internal static uint TimeoutMilliseconds(string parameter, TimeSpan timeout)
        {
            double milliseconds = Math.Round(timeout.TotalMilliseconds);
            if (milliseconds < 1 || milliseconds > MaxTimeoutMs)
            {
                throw new ArgumentOutOfRangeException(parameter, timeout,
                                                      "a time-out lies from 1 ms to 10 minutes");
            }
            return (uint)milliseconds;
        }

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int vc_create(ControllerHandle controller, byte[] a, byte[] b,
                                             byte[] c, byte[] d, IntPtr tag);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int vc_kick(ControllerHandle controller, byte[] a, byte[] b,
                                           IntPtr tag);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int vc_change(ControllerHandle controller, byte[] a, byte[] b,
                                             ushort n, IntPtr tag);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int vc_qall(ControllerHandle controller, IntPtr tag);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int vc_qsingle(ControllerHandle controller, byte[] a, IntPtr tag);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int vc_dscall(ControllerHandle controller, byte[] a, byte[] b,
                                             uint durationSeconds, IntPtr tag);

        // A string as NUL-terminated UTF-8. A NUL inside would cut it short
        // without anyone noticing, so it is refused.
        internal static byte[] Utf8(string parameter, string text)
        {
            if (text == null) throw new ArgumentNullException(parameter);
            if (text.IndexOf('\0') >= 0)
            {
                throw new ArgumentException("the text contains a NUL character", parameter);
            }
            var bytes = new byte[Encoding.UTF8.GetByteCount(text) + 1];
            Encoding.UTF8.GetBytes(text, 0, text.Length, bytes, 0);
            return bytes;
        }

        // A NUL-terminated UTF-8 string of the library (valid only during the
        // callback that got it).
        internal static string Text(IntPtr utf8)
        {
            if (utf8 == IntPtr.Zero) return "";
            int length = 0;
            while (Marshal.ReadByte(utf8, length) != 0) ++length;
            var bytes = new byte[length];
            Marshal.Copy(utf8, bytes, 0, length);
            return Encoding.UTF8.GetString(bytes);
        }

        private static string[] Texts(IntPtr array, int count)
        {
            var texts = new string[count];
            for (int i = 0; i < count; ++i)
            {
                texts[i] = Text(Marshal.ReadIntPtr(array, i * IntPtr.Size));
            }
            return texts;
        }

        // The exception for a vc_status other than VC_OK: the function did
        // nothing.
        internal static Exception StatusError(int status)
        {
            switch (status)
            {
                case -1: return new ArgumentNullException();
                case -2: return new OutOfMemoryException("voicecontrol ran out of memory");
                case -5: return new ArgumentException("not an IPv4 address in dotted form");
                case -7: return new ArgumentOutOfRangeException(null, "a time-out outside 1 ms to 10 minutes");
                default: return new InvalidOperationException("voicecontrol failed with status " + status);
            }
        }

        // True on a thread while it issues a command: a callback then runs on
        // the host's own thread, not on one of the library's.
        [ThreadStatic] internal static bool Issuing;
        [ThreadStatic] private static bool inBackground;

        // A receive thread of the library becomes known to the runtime with
        // its first callback, as a foreground thread under Mono: the runtime
        // would wait for it at exit, and it waits for the next request of
        // its controller. Marked a background thread it holds up nothing.
        private static void EnterCallback()
        {
            if (Issuing || inBackground) return;
            Thread.CurrentThread.IsBackground = true;
            inBackground = true;
        }

        // The callbacks run on the library's threads (or on the calling thread
        // during a command). No exception may leave them into native code.
        private static void OnError(IntPtr user, IntPtr tag, IntPtr text)
        {
            try
            {
                EnterCallback();
                Request request = Request.Find(tag);
                // The detail is readable only during this call.
                if (request != null) request.SetError(Text(text), Text(vc_error_detail()));
            }
            catch (Exception failure)
            {
                Request.Fail(tag, failure);
            }
        }

        private static void OnCommandResult(IntPtr user, IntPtr tag, int flowId, int code, IntPtr text)
        {
            try
            {
                EnterCallback();
                Request request = Request.Find(tag);
                if (request != null) request.SetResult(new CommandResult(flowId, code, Text(text)));
            }
            catch (Exception failure)
            {
                Request.Fail(tag, failure);
            }
        }

        private static void OnQAllEmpty(IntPtr user, IntPtr tag)
        {
            try
            {
                EnterCallback();
                Request request = Request.Find(tag);
                if (request != null) request.AddEntry(null);
            }
            catch (Exception failure)
            {
                Request.Fail(tag, failure);
            }
        }

        private static void OnQAllEntry(IntPtr user, IntPtr tag, IntPtr fields)
        {
            try
            {
                EnterCallback();
                Request request = Request.Find(tag);
                if (request != null) request.AddEntry(new QAllEntry(Texts(fields, QAllFields)));
            }
            catch (Exception failure)
            {
                Request.Fail(tag, failure);
            }
        }

        private static void OnQSingleResult(IntPtr user, IntPtr tag, IntPtr values)
        {
            try
            {
                EnterCallback();
                Request request = Request.Find(tag);
                if (request != null) request.SetValues(new QSingleResult(Texts(values, QSingleValues)));
            }
            catch (Exception failure)
            {
                Request.Fail(tag, failure);
            }
        }

        private static void OnLogRecord(IntPtr user, IntPtr record)
        {
            try
            {
                EnterCallback();
                Observers observers = Observers.From(user);
                EventHandler<LogRecordEventArgs> handlers = observers == null ? null : observers.LogRecord;
                if (handlers == null) return;
                var native = (LogRecord)Marshal.PtrToStructure(record, typeof(LogRecord));
                var bytes = new byte[native.Length];
                if (bytes.Length > 0) Marshal.Copy(native.Bytes, bytes, 0, bytes.Length);
                Raise(handlers, observers.Sender, new LogRecordEventArgs(native.Sent != 0, bytes,
                                                                         (long)native.RequestId));
            }
            catch
            {
                // Out of memory: the record is lost, the command goes on.
            }
        }

        private static void OnRequestEvents(IntPtr user, IntPtr events)
        {
            try
            {
                EnterCallback();
                Observers observers = Observers.From(user);
                EventHandler<RequestEndedEventArgs> handlers = observers == null ? null : observers.RequestEnded;
                if (handlers == null) return;
                var native = (RequestEvents)Marshal.PtrToStructure(events, typeof(RequestEvents));
                Raise(handlers, observers.Sender, new RequestEndedEventArgs(native));
            }
            catch
            {
                // As above.
            }
        }

        // Each handler on its own: one that throws neither reaches the
        // library's thread nor keeps the others from their call.
        private static void Raise<TArgs>(EventHandler<TArgs> handlers, object sender, TArgs arguments)
        {
            foreach (Delegate handler in handlers.GetInvocationList())
            {
                try
                {
                    ((EventHandler<TArgs>)handler)(sender, arguments);
                }
                catch
                {
                    // Dropped, as documented with the events.
                }
            }
        }

        private static void OnDone(IntPtr user, IntPtr tag)
        {
            try
            {
                EnterCallback();
                Request.Done(tag);
            }
            catch
            {
                // Completing a task runs no code of the host here (its
                // continuations run asynchronously); nothing is left to tell.
            }
        }
    }
}
