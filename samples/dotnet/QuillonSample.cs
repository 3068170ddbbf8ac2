// A .NET host of quillon.dll: the declaration, a reply buffer of the documented longest reply,
// and the call on a thread of its own (it blocks until its command ends and runs a modal dialog,
// so that thread must be able to own windows: a single-threaded apartment).
//
// Build as an x86 program: quillon.dll is 32-bit, and a 64-bit process cannot load it.
//   csc -platform:x86 -out:QuillonSample.exe QuillonSample.cs
//   QuillonSample.exe "[GETSERIALNUMBER][0][0]"
using System;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;

namespace Quillon.Samples
{
    /// <summary>Result codes: the call's return value and the reply's second field.</summary>
    public enum QuillonResult
    {
        Ok = 0,
        WrongAccess = -9999,
        NoCommand = -1007,
        Busy = -1008,
        InternalError = -1009,
        TemplateRefused = -5,
        PortOpenFailed = -4,
        NoResult = -9,
        NotStarted = -10,
        Timeout = -30,
        MyKadNotVerified = -1,
        MyKadReadFailed = -2,
        TerminalError = -3,
        // Any other negative value of a MyKad command is the card-reader library's own result.
    }

    public static class QuillonNative
    {
        /// <summary>QUILLON_REPLY_MAX of quillon.h: the longest reply any request can produce,
        /// with its terminating NUL.</summary>
        public const int ReplyMax = 6349;

        // cdecl, 8-bit (ANSI) texts; the reply buffer is the caller's and is not size-checked.
        [DllImport("quillon.dll", CallingConvention = CallingConvention.Cdecl,
                   CharSet = CharSet.Ansi, ExactSpelling = true)]
        public static extern int ProcessWebMessage(string accessCode, string request,
                                                   StringBuilder reply);
    }

    public sealed class QuillonClient
    {
        private readonly string accessCode;
        private readonly object oneAtATime = new object();

        /// <param name="accessCode">The five-character access code of the library's build; keep
        /// it in the host, never in a page.</param>
        public QuillonClient(string accessCode)
        {
            if (accessCode == null || accessCode.Length != 5)
                throw new ArgumentException("the access code has five characters");
            this.accessCode = accessCode;
        }

        /// <summary>Runs one request on a dedicated thread and waits for it; returns the result
        /// code and the reply text.</summary>
        public QuillonResult Send(string request, out string reply)
        {
            int code = 0;
            string text = "";
            var thread = new Thread(() =>
            {
                var buffer = new StringBuilder(QuillonNative.ReplyMax);
                code = QuillonNative.ProcessWebMessage(accessCode, request, buffer);
                text = buffer.ToString();
            });
            thread.SetApartmentState(ApartmentState.STA);  // the dialog's thread owns windows
            thread.IsBackground = true;
            lock (oneAtATime)  // the library runs one call at a time
            {
                thread.Start();
                thread.Join();
            }
            reply = text;
            return (QuillonResult)code;
        }
    }

    public static class Program
    {
        public static int Main(string[] args)
        {
            if (args.Length != 1)
            {
                Console.Error.WriteLine("usage: QuillonSample REQUEST   (e.g. \"[GETBRANCHCODE]\")");
                return 2;
            }
            var client = new QuillonClient("QLN26");  // the default build's access code
            string reply;
            QuillonResult result = client.Send(args[0], out reply);
            Console.WriteLine("result: {0} ({1})", (int)result, result);
            Console.WriteLine("reply:  {0}", reply);
            return result == QuillonResult.Ok ? 0 : 1;
        }
    }
}
