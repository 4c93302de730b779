/*
 * TarnwellFunctions: the host API.
 *
 * Every function here is exported under its plain C name. Text arguments
 * are zero-terminated 8-bit strings taken as raw bytes. Every string the
 * library hands out (through a char** out-parameter or as a return value)
 * is owned by the caller and must be released exactly once with freemem().
 *
 * Request functions perform one blocking HTTP(S) request and return the
 * status code of the last response (4xx and 5xx included). On failure they
 * return 0, store "" in *responseHeaders and the error message in
 * *responseBody. Both out-parameters are written on every call; if either
 * is NULL the call returns 0 without a request and writes only through
 * the other. A NULL text argument fails with "Argument must not be null:
 * <name>.".
 *
 * responseEncoding: 0 raw (up to the first zero byte), 1 base64,
 * 2 decimal bytes separated by spaces, 3 by commas, 4 hex bytes separated
 * by spaces, 5 by commas; any other value acts as 0.
 * skipCertificateVerification: bit 0 set turns TLS verification off. With
 * verification on, the CA bundle is read from "curl-ca-bundle.crt" in the
 * process's current directory.
 *
 * All functions are thread-safe: calls share no data, except the connection
 * pool of TwHttpRequest, which is guarded by locks.
 */
#ifndef TARNWELL_DLL_H
#define TARNWELL_DLL_H

#if defined(_WIN32)
#define TW_API __declspec(dllexport)
#else
#define TW_API __attribute__((visibility("default")))
#endif

/* The calling convention of every export: stdcall (WINAPI) in the 32-bit
 * Windows DLL, as 32-bit script hosts call DLL functions by default (VBA's
 * Declare, DllCall); empty everywhere else, where there is one convention.
 * A host that takes a function pointer from GetProcAddress declares it
 * with this macro too: int (TW_CALLCONV *)(...). */
#if defined(_WIN32) && !defined(_WIN64)
#define TW_CALLCONV __stdcall
#else
#define TW_CALLCONV
#endif

/* No exception leaves any of these functions. */
#ifdef __cplusplus
#define TW_NOEXCEPT noexcept
#else
#define TW_NOEXCEPT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The core: every other request function forwards to it. */
TW_API int TW_CALLCONV sendAuthEncodedRequestEncodeResponse(const char* url, const char* username, const char* password,
                                                            const char* method, const char* headersJson,
                                                            const char* requestBody, int bodyIsBase64,
                                                            int responseEncoding, int skipCertificateVerification,
                                                            char** responseHeaders, char** responseBody) TW_NOEXCEPT;

TW_API int TW_CALLCONV sendEncodedRequestEncodeResponse(const char* url, const char* method, const char* headersJson,
                                                        const char* requestBody, int bodyIsBase64, int responseEncoding,
                                                        int skipCertificateVerification, char** responseHeaders,
                                                        char** responseBody) TW_NOEXCEPT;
TW_API int TW_CALLCONV sendAuthRequest(const char* url, const char* username, const char* password, const char* method,
                                       const char* headersJson, const char* requestBody,
                                       int skipCertificateVerification, char** responseHeaders,
                                       char** responseBody) TW_NOEXCEPT;
TW_API int TW_CALLCONV sendRequest(const char* url, const char* method, const char* headersJson,
                                   const char* requestBody, int skipCertificateVerification, char** responseHeaders,
                                   char** responseBody) TW_NOEXCEPT;

/* The Tw family takes the method first and always verifies certificates.
 * Base64: response as base64. Bytes: response as comma-separated decimal
 * byte values. In64: the request body is base64 and is decoded first. */
#define TW_HTTP_CALL_PARAMS                                                                                        \
    const char *method, const char *url, const char *headersJson, const char *requestBody, char **responseHeaders, \
        char **responseBody
#define TW_AUTH_HTTP_CALL_PARAMS                                                                              \
    const char *method, const char *url, const char *username, const char *password, const char *headersJson, \
        const char *requestBody, char **responseHeaders, char **responseBody

TW_API int TW_CALLCONV TwHttpCall(TW_HTTP_CALL_PARAMS) TW_NOEXCEPT;
TW_API int TW_CALLCONV TwHttpCallBase64(TW_HTTP_CALL_PARAMS) TW_NOEXCEPT;
TW_API int TW_CALLCONV TwHttpCallBytes(TW_HTTP_CALL_PARAMS) TW_NOEXCEPT;
TW_API int TW_CALLCONV TwHttpCallIn64(TW_HTTP_CALL_PARAMS) TW_NOEXCEPT;
TW_API int TW_CALLCONV TwHttpCallBase64In64(TW_HTTP_CALL_PARAMS) TW_NOEXCEPT;
TW_API int TW_CALLCONV TwHttpCallBytesIn64(TW_HTTP_CALL_PARAMS) TW_NOEXCEPT;
TW_API int TW_CALLCONV TwAuthHttpCall(TW_AUTH_HTTP_CALL_PARAMS) TW_NOEXCEPT;
TW_API int TW_CALLCONV TwAuthHttpCallBase64(TW_AUTH_HTTP_CALL_PARAMS) TW_NOEXCEPT;
TW_API int TW_CALLCONV TwAuthHttpCallBytes(TW_AUTH_HTTP_CALL_PARAMS) TW_NOEXCEPT;
TW_API int TW_CALLCONV TwAuthHttpCallIn64(TW_AUTH_HTTP_CALL_PARAMS) TW_NOEXCEPT;
TW_API int TW_CALLCONV TwAuthHttpCallBase64In64(TW_AUTH_HTTP_CALL_PARAMS) TW_NOEXCEPT;
TW_API int TW_CALLCONV TwAuthHttpCallBytesIn64(TW_AUTH_HTTP_CALL_PARAMS) TW_NOEXCEPT;
#undef TW_HTTP_CALL_PARAMS
#undef TW_AUTH_HTTP_CALL_PARAMS

/*
 * One request, every setting given as a member of the JSON object
 * requestJson (see the README for the members). Returns like the functions
 * above: the status code, the header JSON in *responseHeaders and the body
 * in *responseBody, or 0, "" and a message. Both strings are the caller's
 * and are released with freemem().
 */
TW_API int TW_CALLCONV TwHttpRequest(const char* requestJson, char** responseHeaders, char** responseBody) TW_NOEXCEPT;

/* One line of JSON: the library's version, libcurl's, the TLS backend and
 * the features ("decompress", "http2"). Release it with freemem(); NULL
 * only when memory is exhausted. */
TW_API char* TW_CALLCONV TwVersion(void) TW_NOEXCEPT;

/* Releases a string handed out by this library; NULL is ignored. */
TW_API void TW_CALLCONV freemem(void* p) TW_NOEXCEPT;

/*
 * Percent-encoding: bytes in the allowed set stay, every other byte becomes
 * '%' and two upper-case hex digits. A NULL text gives "". A NULL set or a
 * count <= 0 is the empty set (everything escaped); otherwise exactly
 * allowedCount bytes are read from allowedCharacters, zero bytes included.
 * style: 0 JS, 1 Inter, 2 Lax, 3 VeryLax; any other value acts as 1.
 *
 * Query strings: jsonText holds one JSON value; each member (object, in
 * name order) or element (array, keyed by index) becomes key=value, joined
 * by '&', keys and values percent-encoded. Invalid JSON, null, {} and []
 * give "".
 *
 * All twelve return a new string to be released with freemem(); they
 * return NULL only when memory is exhausted.
 */
TW_API char* TW_CALLCONV escapeUrlStyleAllowedCharacters(const char* text, const char* allowedCharacters,
                                                         int allowedCount) TW_NOEXCEPT;
TW_API char* TW_CALLCONV escapeUrlStyle(const char* text, int style) TW_NOEXCEPT;
TW_API char* TW_CALLCONV TwUrlEncodeJS(const char* text) TW_NOEXCEPT;
TW_API char* TW_CALLCONV TwUrlEncodeInter(const char* text) TW_NOEXCEPT;
TW_API char* TW_CALLCONV TwUrlEncodeLax(const char* text) TW_NOEXCEPT;
TW_API char* TW_CALLCONV TwUrlEncodeVeryLax(const char* text) TW_NOEXCEPT;

TW_API char* TW_CALLCONV toQueryStringAllowedCharacters(const char* jsonText, const char* allowedCharacters,
                                                        int allowedCount) TW_NOEXCEPT;
TW_API char* TW_CALLCONV toQueryString(const char* jsonText, int style) TW_NOEXCEPT;
TW_API char* TW_CALLCONV TwUrlEncodeQueryJS(const char* jsonText) TW_NOEXCEPT;
TW_API char* TW_CALLCONV TwUrlEncodeQueryInter(const char* jsonText) TW_NOEXCEPT;
TW_API char* TW_CALLCONV TwUrlEncodeQueryLax(const char* jsonText) TW_NOEXCEPT;
TW_API char* TW_CALLCONV TwUrlEncodeQueryVeryLax(const char* jsonText) TW_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* TARNWELL_DLL_H */
