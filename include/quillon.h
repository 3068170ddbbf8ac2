/* Quillon: the one entry point of quillon.dll for host applications (C and C++).

   Link with quillon.lib (or load quillon.dll and look up "ProcessWebMessage"); the name is
   exported undecorated. One call runs one command to its end, showing a modal dialog on the
   calling thread when the request asks for it; the calling thread must be able to own windows.
   Call it from one thread at a time: a call that arrives while another runs is refused with
   QUILLON_RESULT_BUSY. The command reference in docs/commands.md lists every request and reply. */
#ifndef QUILLON_H
#define QUILLON_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && !defined(QUILLON_BUILDING_DLL)
#define QUILLON_API __declspec(dllimport)
#elif defined(_WIN32)
#define QUILLON_API __declspec(dllexport)
#else
#define QUILLON_API
#endif

#if !defined(_WIN32) && !defined(__cdecl)
#define __cdecl /* a plain C call outside Windows (for portable code that includes this file) */
#endif

/* Number of bytes of the access code compared by ProcessWebMessage. */
#define QUILLON_ACCESS_CODE_LENGTH 5

/* The longest reply any request can produce, with its terminating NUL: a reply buffer of this
   many bytes holds every reply. The longest is a MyKad reply with the photo
   (READMYKADNOVERIFYWITHPHOTO); a GETSIGNATURE reply takes at most 4,385 bytes (2,180 signature
   bytes, what one terminal frame carries, as hexadecimal digits), an enrolment 1,215. */
#define QUILLON_REPLY_MAX 6349
/* The earlier name of the same figure. */
#define QUILLON_REPLY_SIZE QUILLON_REPLY_MAX

/* Result codes: the function's return value and the second field of the reply. */

/* Success. */
#define QUILLON_RESULT_OK 0
/* The access code differs from the library's; nothing ran and the reply buffer is untouched. */
#define QUILLON_RESULT_WRONG_ACCESS (-9999)
/* Field 1 of the request holds no command keyword; the reply is [field 1][-1007][123]. */
#define QUILLON_RESULT_NO_COMMAND (-1007)
/* Another call of ProcessWebMessage was still running; the reply is [field 1][-1008][123] and
   the running call is not disturbed. MyKad commands also answer it while the reader thread of an
   earlier, timed-out MyKad call is still inside OrvMyKad.dll; they work again once it is back. */
#define QUILLON_RESULT_BUSY (-1008)
/* The call failed inside the library (it ran out of memory, say); the reply is
   [field 1][-1009][123]. A command that drives hardware may have run in part. The library stays
   usable: the next call runs as usual. */
#define QUILLON_RESULT_INTERNAL_ERROR (-1009)
/* VERIFY / VERIFY2F: a template was refused before any dialog opened (its byte 17 is not 2).
   ENROLL: the terminal reported that the enrolment failed. */
#define QUILLON_RESULT_TEMPLATE_REFUSED (-5)
/* The terminal's COM port could not be opened; MyKad commands: the card reader could not be
   initialised (OrvMyKad.dll missing, or its OrvMyKadInit failed). */
#define QUILLON_RESULT_PORT_OPEN_FAILED (-4)
/* The terminal's port was open but the operation set no result (the dialog was closed);
   GETSIGNATURE: the terminal refused the signature; MyKad commands: cancelled by the user. */
#define QUILLON_RESULT_NO_RESULT (-9)
/* The dialog ended before it opened a port or set a result. */
#define QUILLON_RESULT_NOT_STARTED (-10)
/* Time-out: the terminal did not answer in time ([MYKAD] TIMEOUT per step, GLOBTIMEOUT in all),
   or no card came within the card-reader's wait ([CSSSERVER] GLOBTIMEOUT, [MYKAD] INSERT_COUNT). */
#define QUILLON_RESULT_TIMEOUT (-30)
/* MyKad: a card was already in the reader when the command started, or the holder's
   fingerprint verification on the terminal failed. */
#define QUILLON_RESULT_MYKAD_NOT_VERIFIED (-1)
/* A terminal command met the terminal's own MyKad events: it reported a card it could not read,
   or a MyKad fingerprint check of its own. */
#define QUILLON_RESULT_MYKAD_READ_FAILED (-2)
/* ENROLL / VERIFY: the terminal answered with an error status (the status byte is in the
   [DEBUG] file log as "RECV: Error Code 0x.."); MyKad: the fingerprint did not match the card
   in [MYKAD] VERIFY_TIMES attempts. */
#define QUILLON_RESULT_TERMINAL_ERROR (-3)
/* Any other negative value of a MyKad command is the failing result of the card-reader
   library OrvMyKad.dll, passed through unchanged (see its maker's documentation). */

/* Runs one request to its end. accessCode: five bytes; request: NUL-terminated bracketed text
   such as "[ENROLL][1][0]"; reply: the host's buffer, zeroed by the host, large enough for the
   command's longest reply. cdecl: the caller removes the arguments. Returns the result code
   that the reply carries in its second field. */
QUILLON_API int __cdecl ProcessWebMessage(const char* accessCode, const char* request, char* reply);

#ifdef __cplusplus
}
#endif

#endif /* QUILLON_H */
