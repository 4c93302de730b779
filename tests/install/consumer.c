/* A C program built against the installed library through pkg-config. */
#include <TarnwellDll.h>

#include <stdio.h>
#include <string.h>

static int expect(int ok, const char* what) {
    if (!ok) fprintf(stderr, "C consumer: %s\n", what);
    return ok;
}

/* argv[1]: a URL that answers "hello from the loopback server\n". */
int main(int argc, char** argv) {
    char* headers = NULL;
    char* body = NULL;
    char* encoded = TwUrlEncodeInter("a b&c");
    int ok = expect(encoded != NULL && strcmp(encoded, "a%20b%26c") == 0, "TwUrlEncodeInter");
    freemem(encoded);
    if (argc < 2) return ok ? 0 : 1;

    int code = TwHttpCall("GET", argv[1], "", "", &headers, &body);
    ok = expect(code == 200, "TwHttpCall status") && ok;
    ok = expect(headers != NULL && strstr(headers, "\"Content-Length\":\"31\"") != NULL, "header JSON") && ok;
    ok = expect(body != NULL && strcmp(body, "hello from the loopback server\n") == 0, "body") && ok;
    freemem(headers);
    freemem(body);
    return ok ? 0 : 1;
}
