// Every result code the library returns: the value of ProcessWebMessage and the second field of
// its reply. include/quillon.h publishes the same values; entry_win32.cpp checks they agree.
// A failing card-reader library call passes its own (other) negative code through unchanged.
#pragma once

namespace quillon {

const int kResultOk = 0;
// MyKad: a card was already in the reader at the start, or the holder's finger failed.
const int kResultMyKadNotVerified = -1;
const int kResultCardAlreadyIn = kResultMyKadNotVerified;
// A terminal command met the terminal's own MyKad events (a card it could not read).
const int kResultMyKadReadFailed = -2;
// The terminal answered with an error status; MyKad: the finger did not match the card.
const int kResultTerminalError = -3;
// The COM port did not open; MyKad: the card reader could not be initialised.
const int kResultOpenPortFailed = -4;
// A template to verify was refused (byte 17 not 2), or the terminal's enrolment failed.
const int kResultTemplateRefused = -5;
const int kResultEnrollFailed = kResultTemplateRefused;
// The port was open but the operation set no result; a refused signature.
const int kResultNoResult = -9;
// MyKad: the operator pressed Cancel (the dialog's cancel code, answered as it is).
const int kResultCancelled = kResultNoResult;
// The dialog ended before it opened a port or set a result.
const int kResultNotStarted = -10;
// Time-out: the terminal did not answer, or no card came, in time.
const int kResultTimeout = -30;
// Field 1 of the request holds no command keyword.
const int kResultNoCommand = -1007;
// A call arrived while another was still running; nothing of the running call was touched.
const int kResultBusy = -1008;
// The call failed inside the library (an exception, out of memory); the library stays usable.
const int kResultInternalError = -1009;
// The access code differs: nothing ran, the reply buffer is untouched.
const int kResultWrongAccess = -9999;

}  // namespace quillon
