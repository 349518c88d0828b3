/*
 * corvanews20.h - C interface of the Corvane WebSocket protocol engine
 * (libcorvanews20.so).
 *
 * Every engine object (client, server, proxy, certificate manager) is reached
 * through the same twelve functions, named CorvaneWS_<Object>_<Operation>.
 * Properties and methods are numbered:
 *   n          value form of property n (int, bool, byte array)
 *   n + 10000  UTF-16 text form of a string property
 *   n + 20000  UTF-16 text form of a byte-array property
 *   10000 + m  method m (through _Do)
 * Events are numbered from 1 and delivered to the event sink on the thread
 * that created the object; the engine runs on that thread's Qt event loop and
 * creates a QCoreApplication itself when the host has none. Error codes, the
 * Config settings and the event shapes are listed in engine/README.md.
 *
 * Text arguments and results of the "wide" numbers are UTF-16 (char16_t);
 * narrow texts (error texts) are UTF-8. Memory returned by the engine stays
 * owned by the engine and is valid until the next call on the same object.
 */
#ifndef CORVANEWS20_H
#define CORVANEWS20_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(CORVANEWS20_BUILDING)
#define CORVANEWS20_API __attribute__((visibility("default")))
#else
#define CORVANEWS20_API
#endif

/* argv slots are pointer-sized; arglen[k] is 0 for zero-terminated text,
 * otherwise the byte (or UTF-16 character) count of argv[k]. The return value
 * is 0, or an error code that the engine records as the event error. */
typedef int (*CorvaneWS_EventSink)(void* user, int event, int argc, void** argv, int* arglen);

/* ---- WebSocket client ---------------------------------------------------- */
CORVANEWS20_API void* CorvaneWS_WebSocketClient_Create(CorvaneWS_EventSink sink, void* user, void* reserved, int flags);
CORVANEWS20_API int CorvaneWS_WebSocketClient_Destroy(void* h);
CORVANEWS20_API int CorvaneWS_WebSocketClient_CheckIndex(void* h, int id, int index);
/* int and bool values come back as the pointer-sized value itself. */
CORVANEWS20_API void* CorvaneWS_WebSocketClient_Get(void* h, int id, int index, int* length_out, long long* value64_out);
CORVANEWS20_API int CorvaneWS_WebSocketClient_Set(void* h, int id, int index, const void* value, int length);
CORVANEWS20_API int CorvaneWS_WebSocketClient_Do(void* h, int method, int argc, void** argv, int* arglen, void* reserved);
CORVANEWS20_API const char* CorvaneWS_WebSocketClient_GetLastError(void* h);
CORVANEWS20_API int CorvaneWS_WebSocketClient_GetLastErrorCode(void* h);
CORVANEWS20_API int CorvaneWS_WebSocketClient_SetLastErrorAndCode(void* h, int code, const char* text);
CORVANEWS20_API const char* CorvaneWS_WebSocketClient_GetEventError(void* h);
CORVANEWS20_API int CorvaneWS_WebSocketClient_GetEventErrorCode(void* h);
CORVANEWS20_API int CorvaneWS_WebSocketClient_SetEventErrorAndCode(void* h, int code, const char* text);

/* ---- WebSocket server ---------------------------------------------------- */
CORVANEWS20_API void* CorvaneWS_WebSocketServer_Create(CorvaneWS_EventSink sink, void* user, void* reserved, int flags);
CORVANEWS20_API int CorvaneWS_WebSocketServer_Destroy(void* h);
CORVANEWS20_API int CorvaneWS_WebSocketServer_CheckIndex(void* h, int id, int index);
CORVANEWS20_API void* CorvaneWS_WebSocketServer_Get(void* h, int id, int index, int* length_out, long long* value64_out);
CORVANEWS20_API int CorvaneWS_WebSocketServer_Set(void* h, int id, int index, const void* value, int length);
CORVANEWS20_API int CorvaneWS_WebSocketServer_Do(void* h, int method, int argc, void** argv, int* arglen, void* reserved);
CORVANEWS20_API const char* CorvaneWS_WebSocketServer_GetLastError(void* h);
CORVANEWS20_API int CorvaneWS_WebSocketServer_GetLastErrorCode(void* h);
CORVANEWS20_API int CorvaneWS_WebSocketServer_SetLastErrorAndCode(void* h, int code, const char* text);
CORVANEWS20_API const char* CorvaneWS_WebSocketServer_GetEventError(void* h);
CORVANEWS20_API int CorvaneWS_WebSocketServer_GetEventErrorCode(void* h);
CORVANEWS20_API int CorvaneWS_WebSocketServer_SetEventErrorAndCode(void* h, int code, const char* text);

/* ---- Shared helpers ------------------------------------------------------ */
/* Event string access. action 0 reads: returns the text of value converted to
 * the given encoding (2 = UTF-16, otherwise UTF-8). action 1 returns its length
 * in that encoding's units as the pointer-sized result. action 2 writes:
 * replaces the event string at value with text in the given encoding (null
 * writes an empty text) and returns value. */
CORVANEWS20_API void* CorvaneWS_EvtStr(void* value, int action, void* text, int encoding);
/* Stream access for stream-valued arguments: stream is the handle an event or
 * method handed out, valid during that call. action 0 reads up to *length bytes
 * into buffer (*length becomes the count, 0 at the end); 1 writes *length bytes
 * from buffer; 2 sets *length to the stream's size (-1 unknown); 3 closes it.
 * Returns 0 or an error code (engine/README.md). */
CORVANEWS20_API int CorvaneWS_Stream(void* stream, int action, void* buffer, int* length);

/* ---- Certificate manager (numbers: corvanews20_certmgr.h) ---------------- */
CORVANEWS20_API void* CorvaneWS_CertMgr_Create(CorvaneWS_EventSink sink, void* user, void* reserved, int flags);
CORVANEWS20_API int CorvaneWS_CertMgr_Destroy(void* h);
CORVANEWS20_API int CorvaneWS_CertMgr_CheckIndex(void* h, int id, int index);
CORVANEWS20_API void* CorvaneWS_CertMgr_Get(void* h, int id, int index, int* length_out, long long* value64_out);
CORVANEWS20_API int CorvaneWS_CertMgr_Set(void* h, int id, int index, const void* value, int length);
CORVANEWS20_API int CorvaneWS_CertMgr_Do(void* h, int method, int argc, void** argv, int* arglen, void* reserved);
CORVANEWS20_API const char* CorvaneWS_CertMgr_GetLastError(void* h);
CORVANEWS20_API int CorvaneWS_CertMgr_GetLastErrorCode(void* h);
CORVANEWS20_API int CorvaneWS_CertMgr_SetLastErrorAndCode(void* h, int code, const char* text);
CORVANEWS20_API const char* CorvaneWS_CertMgr_GetEventError(void* h);
CORVANEWS20_API int CorvaneWS_CertMgr_GetEventErrorCode(void* h);
CORVANEWS20_API int CorvaneWS_CertMgr_SetEventErrorAndCode(void* h, int code, const char* text);

#ifdef __cplusplus
}
#endif

#endif /* CORVANEWS20_H */
