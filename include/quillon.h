/* Quillon: the one entry point of quillon.dll for host applications (C and C++). */
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

/* Number of bytes of the access code compared by ProcessWebMessage. */
#define QUILLON_ACCESS_CODE_LENGTH 5

/* Runs one request to its end. accessCode: five bytes; request: NUL-terminated bracketed text;
   reply: the host's buffer, large enough for the command's longest reply. cdecl: the caller
   removes the arguments. Returns the result code that the reply carries in its second field. */
QUILLON_API int __cdecl ProcessWebMessage(const char* accessCode, const char* request,
                                          char* reply);

#ifdef __cplusplus
}
#endif

#endif /* QUILLON_H */
