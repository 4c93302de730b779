/* A C host: includes the public header as C and calls through it. */
#include "TarnwellDll.h"

#include <stdio.h>
#include <string.h>

int main(void) {
    char* headers = NULL;
    char* body = NULL;
    char* encoded = TwUrlEncodeJS("a b&c");
    int ok = encoded != NULL && strcmp(encoded, "a%20b%26c") == 0;
    freemem(encoded);

    /* Port 1 on loopback is closed: a clean failure, both strings set. */
    int code = TwHttpCall("GET", "http://127.0.0.1:1/", "", "", &headers, &body);
    ok = ok && code == 0 && headers != NULL && headers[0] == '\0' && body != NULL &&
         strncmp(body, "curl_easy_perform() failed: ", 28) == 0;
    freemem(headers);
    freemem(body);
    if (!ok) fprintf(stderr, "C host check failed\n");
    return ok ? 0 : 1;
}
