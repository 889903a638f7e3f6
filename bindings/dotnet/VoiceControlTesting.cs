// VoiceControl.Testing: the simulated voice server as a test fixture for a
// host written in C#. It starts `voicectl serve --listen 127.0.0.1:0 --admin
// 127.0.0.1:0` and talks to its admin interface (HTTP and JSON, described in
// docs/simulator-admin.md). Compile it beside VoiceControl.cs:
//
//   mcs -target:library -out:VoiceControl.Testing.dll -r:System.Runtime.Serialization.dll
//       VoiceControlTesting.cs
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Net;
using System.Runtime.Serialization;
using System.Runtime.Serialization.Json;
using System.Text;
using System.Text.RegularExpressions;

namespace VoiceControl.Testing
{
    /// <summary>How one answer misbehaves; unset members leave the answer
    /// correct. The names are the admin interface's fault fields.</summary>
    [DataContract]
    public sealed class Fault
    {
        /// <summary>Wait this long before answering.</summary>
        [DataMember(Name = "delay_ms", EmitDefaultValue = false)] public int? DelayMs;
        /// <summary>Close right after reading the request.</summary>
        [DataMember(Name = "close_early", EmitDefaultValue = false)] public bool? CloseEarly;
        /// <summary>Keep the connection open, never answer.</summary>
        [DataMember(Name = "no_answer", EmitDefaultValue = false)] public bool? NoAnswer;
        /// <summary>The answer's HTTP status code.</summary>
        [DataMember(Name = "status", EmitDefaultValue = false)] public int? Status;
        /// <summary>"HTTP/1.0" in the status line.</summary>
        [DataMember(Name = "http10", EmitDefaultValue = false)] public bool? Http10;
        /// <summary>This FlowID instead of the command's.</summary>
        [DataMember(Name = "flow_id", EmitDefaultValue = false)] public int? FlowId;
        /// <summary>This FieldNum instead of the value count.</summary>
        [DataMember(Name = "field_num", EmitDefaultValue = false)] public int? FieldNum;
        /// <summary>A body that is not an interface message.</summary>
        [DataMember(Name = "garbage", EmitDefaultValue = false)] public bool? Garbage;
        /// <summary>An answer of more than 80 KB.</summary>
        [DataMember(Name = "oversize", EmitDefaultValue = false)] public bool? Oversize;
        /// <summary>The header block, then never the body.</summary>
        [DataMember(Name = "partial", EmitDefaultValue = false)] public bool? Partial;
        /// <summary>Reset the connection instead of answering.</summary>
        [DataMember(Name = "reset_before_headers", EmitDefaultValue = false)] public bool? ResetBeforeHeaders;
        /// <summary>Send the header block, then reset the connection.</summary>
        [DataMember(Name = "reset_after_headers", EmitDefaultValue = false)] public bool? ResetAfterHeaders;
        /// <summary>Send the header block and half the body, then close.</summary>
        [DataMember(Name = "end_mid_body", EmitDefaultValue = false)] public bool? EndMidBody;
        /// <summary>Send the answer this many bytes at a time.</summary>
        [DataMember(Name = "dribble_bytes", EmitDefaultValue = false)] public int? DribbleBytes;
        /// <summary>Wait between two dribbled pieces.</summary>
        [DataMember(Name = "dribble_ms", EmitDefaultValue = false)] public int? DribbleMs;
        /// <summary>Wait this long in the middle of the body.</summary>
        [DataMember(Name = "body_delay_ms", EmitDefaultValue = false)] public int? BodyDelayMs;
        /// <summary>Misbehave for the first this many answers only.</summary>
        [DataMember(Name = "first_attempts", EmitDefaultValue = false)] public int? FirstAttempts;
        /// <summary>Misbehave for this share of the answers (0 never, 1 always).</summary>
        [DataMember(Name = "probability", EmitDefaultValue = false)] public double? Probability;
        /// <summary>The seed of the draws for Probability.</summary>
        [DataMember(Name = "seed", EmitDefaultValue = false)] public ulong? Seed;
    }

    /// <summary>One request as the server received it and answered it.</summary>
    [DataContract]
    public sealed class JournalEntry
    {
        /// <summary>Its place in arrival order, from 1.</summary>
        [DataMember(Name = "number")] public long Number;
        /// <summary>"CREATE", ...; empty when it was no command.</summary>
        [DataMember(Name = "method")] public string Method;
        /// <summary>The Field_Value texts, in order.</summary>
        [DataMember(Name = "values")] public string[] Values;
        /// <summary>The exchange has ended: the members below are set.</summary>
        [DataMember(Name = "answered")] public bool Answered;
        /// <summary>The fault applied, in words ("none").</summary>
        [DataMember(Name = "fault")] public string Fault;
        /// <summary>The answer's status code; 0: no status line was sent.</summary>
        [DataMember(Name = "status")] public int Status;
        /// <summary>What the server did, e.g. "200 flow=1004 bytes=517".</summary>
        [DataMember(Name = "outcome")] public string Outcome;
        /// <summary>From arrival to the end of the exchange.</summary>
        [DataMember(Name = "latency_ms")] public double LatencyMs;
    }

    [DataContract]
    internal sealed class Journal
    {
        [DataMember(Name = "requests")] internal JournalEntry[] Requests;
    }

    [DataContract]
    internal sealed class Refusal
    {
        [DataMember(Name = "error")] internal string Error;
    }

    /// <summary>The admin interface refused a request.</summary>
    public sealed class AdminException : Exception
    {
        internal AdminException(int status, string reason) : base(status + ": " + reason)
        {
            Status = status;
            Reason = reason;
        }

        /// <summary>The HTTP status, 400 for a bad request.</summary>
        public int Status { get; private set; }

        /// <summary>Why, as the admin interface says it.</summary>
        public string Reason { get; private set; }
    }

    /// <summary>`voicectl serve` with its admin interface, until Dispose.</summary>
    public sealed class Simulator : IDisposable
    {
        private readonly Process process;

        /// <summary>Starts the server on free loopback ports.</summary>
        /// <param name="voicectl">The program, by path or found on PATH.</param>
        public Simulator(string voicectl = "voicectl")
        {
            var start = new ProcessStartInfo(voicectl, "serve --listen 127.0.0.1:0 --admin 127.0.0.1:0")
            {
                UseShellExecute = false,
                RedirectStandardOutput = true,
                RedirectStandardError = true,  // its log of every request
            };
            process = Process.Start(start);
            process.ErrorDataReceived += (sender, logged) => { };
            process.BeginErrorReadLine();
            try
            {
                Port = ReadPort(@"^listening on [\d.]+:(\d+)");
                AdminPort = ReadPort(@"^admin on [\d.]+:(\d+)");
            }
            catch
            {
                Dispose();
                throw;
            }
        }

        private ushort ReadPort(string pattern)
        {
            string line = process.StandardOutput.ReadLine() ?? "";
            Match match = Regex.Match(line, pattern);
            if (!match.Success) throw new InvalidOperationException("voicectl serve said: " + line);
            return ushort.Parse(match.Groups[1].Value);
        }

        /// <summary>The simulated server's port on 127.0.0.1.</summary>
        public ushort Port { get; private set; }

        /// <summary>The admin interface's port on 127.0.0.1 (its page is at "/").</summary>
        public ushort AdminPort { get; private set; }

        /// <summary>One admin request.</summary>
        /// <returns>The JSON answer.</returns>
        /// <exception cref="AdminException">The request was refused.</exception>
        public string Call(string method, string path, string json = null)
        {
            var request = (HttpWebRequest)WebRequest.Create("http://127.0.0.1:" + AdminPort + path);
            request.Method = method;
            request.Proxy = null;  // loopback: never through a proxy the environment names
            if (json != null)
            {
                byte[] body = Encoding.UTF8.GetBytes(json);
                request.ContentType = "application/json";
                request.ContentLength = body.Length;
                using (Stream stream = request.GetRequestStream()) stream.Write(body, 0, body.Length);
            }
            try
            {
                using (var response = (HttpWebResponse)request.GetResponse())
                using (var reader = new StreamReader(response.GetResponseStream(), Encoding.UTF8))
                {
                    return reader.ReadToEnd();
                }
            }
            catch (WebException e) when (e.Response is HttpWebResponse)
            {
                var refused = (HttpWebResponse)e.Response;
                var reason = Read<Refusal>(refused.GetResponseStream());
                throw new AdminException((int)refused.StatusCode, reason.Error ?? refused.StatusDescription);
            }
        }

        /// <summary>Shapes the next answers (to commands of `kind`, e.g.
        /// "QALL", or of any kind when null).</summary>
        public void QueueFault(Fault fault, string kind = null, int count = 1)
        {
            string target = kind == null ? "" : ",\"kind\":" + Quote(kind);
            Call("POST", "/api/queue", "{\"fault\":" + Write(fault) + target + ",\"count\":" + count + "}");
        }

        /// <summary>Shapes the answer to the request with this number (from 1).</summary>
        public void QueueFaultForRequest(long number, Fault fault)
        {
            Call("POST", "/api/queue", "{\"fault\":" + Write(fault) + ",\"request\":" + number + "}");
        }

        /// <summary>Shapes every answer nothing else is planned for; null: correct answers.</summary>
        public void SetStandingFault(Fault fault)
        {
            Call("PUT", "/api/standing", "{\"fault\":" + Write(fault ?? new Fault()) + "}");
        }

        /// <summary>Answers to `kind` from a sequence: each fault for its count
        /// of answers (0: every one from there on).</summary>
        public void SetScenario(string kind, params KeyValuePair<Fault, int>[] steps)
        {
            var json = new StringBuilder("{\"steps\":[");
            for (int i = 0; i < steps.Length; ++i)
            {
                if (i > 0) json.Append(',');
                json.Append("{\"fault\":").Append(Write(steps[i].Key)).Append(",\"times\":").Append(steps[i].Value).Append('}');
            }
            Call("PUT", "/api/scenarios/" + kind, json.Append("]}").ToString());
        }

        /// <summary>The requests received (of `kind`, numbered above `since`), oldest first.</summary>
        public IList<JournalEntry> Requests(string kind = null, long since = 0)
        {
            string query = "?since=" + since + (kind == null ? "" : "&kind=" + Uri.EscapeDataString(kind));
            byte[] json = Encoding.UTF8.GetBytes(Call("GET", "/api/journal" + query));
            return Read<Journal>(new MemoryStream(json)).Requests;
        }

        /// <summary>Back to a fresh server: no plans, requests or sessions.</summary>
        public void Reset()
        {
            Call("POST", "/api/reset");
        }

        /// <summary>Stops the server.</summary>
        public void Dispose()
        {
            if (!process.HasExited) process.Kill();
            process.WaitForExit();
            process.Dispose();
        }

        private static string Write(Fault fault)
        {
            using (var stream = new MemoryStream())
            {
                new DataContractJsonSerializer(typeof(Fault)).WriteObject(stream, fault);
                return Encoding.UTF8.GetString(stream.ToArray());
            }
        }

        private static T Read<T>(Stream json)
        {
            return (T)new DataContractJsonSerializer(typeof(T)).ReadObject(json);
        }

        private static string Quote(string text)
        {
            using (var stream = new MemoryStream())
            {
                new DataContractJsonSerializer(typeof(string)).WriteObject(stream, text);
                return Encoding.UTF8.GetString(stream.ToArray());
            }
        }
    }
}
