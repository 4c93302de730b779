// A C++ program built against the installed library through find_package.
#include <TarnwellDll.h>

#include <iostream>
#include <memory>
#include <string>

namespace {

struct FreeMem {
    void operator()(char* text) const { freemem(text); }
};
using HostString = std::unique_ptr<char, FreeMem>;

bool expect(bool ok, const char* what) {
    if (!ok) std::cerr << "C++ consumer: " << what << "\n";
    return ok;
}

}  // namespace

// argv[1]: a URL serving the six bytes 00 01 7F 80 FE FF; argv[2]: a URL
// nobody listens on.
int main(int argc, char** argv) {
    const HostString query(toQueryString(R"({"q":"a b","n":[1,2]})", 0));
    bool ok = expect(query && std::string(query.get()) == "n=%5B1%2C2%5D&q=a%20b", "toQueryString");
    if (argc < 3) return ok ? 0 : 1;

    char* headers = nullptr;
    char* body = nullptr;
    int code = sendEncodedRequestEncodeResponse(argv[1], "GET", "", "", 0, 5, 0, &headers, &body);
    HostString bytesHeaders(headers), bytesBody(body);
    ok = expect(code == 200, "status") && ok;
    ok = expect(bytesBody && std::string(bytesBody.get()) == "00,01,7F,80,FE,FF", "hex body") && ok;

    code = TwHttpCall("GET", argv[2], R"({"Accept":"text/plain"})", "", &headers, &body);
    HostString failedHeaders(headers), failedBody(body);
    ok = expect(code == 0 && failedHeaders && *failedHeaders == '\0', "failure convention") && ok;
    ok = expect(failedBody && std::string(failedBody.get()).rfind("curl_easy_perform() failed: ", 0) == 0,
                "failure message") &&
         ok;
    return ok ? 0 : 1;
}
