// The response body is sized once from the announced Content-Length of the
// response it belongs to, so a large body is never moved while it arrives.
#include "Tarnwell.h"
#include "support/Servers.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// Larger than one libcurl write (16 KiB) and no power of two, so a body
// grown by doubling never ends with exactly this capacity.
const std::string BODY(300001, 'b');
const std::string DETOUR_BODY(1 << 20, 'd');

void addRoutes(httplib::Server& server) {
    server.Get("/sized", [](const httplib::Request&, httplib::Response& r) { r.set_content(BODY, "x/y"); });
    server.Get("/unsized", [](const httplib::Request&, httplib::Response& r) {
        r.set_chunked_content_provider("x/y", [](std::size_t, httplib::DataSink& sink) {
            sink.write(BODY.data(), BODY.size());
            sink.done();
            return true;
        });
    });
    // A followed response with a larger body of its own comes first.
    server.Get("/detour", [](const httplib::Request&, httplib::Response& r) {
        r.status = 302;
        r.set_header("Location", "/sized");
        r.set_content(DETOUR_BODY, "x/y");
    });
    server.Get("/challenge", [](const httplib::Request& request, httplib::Response& r) {
        if (request.has_header("Authorization")) return r.set_content(BODY, "x/y");
        r.status = 401;
        r.set_header("WWW-Authenticate", "Basic realm=\"r\"");
        r.set_content(DETOUR_BODY, "x/y");
    });
}

TEST(BodyReservation, BodyIsSizedOnceFromTheAnnouncedLength) {
    const tw_test::HttpServer server(tw_test::Tls::Off, addRoutes);
    const struct {
        const char* path;
        bool announced;
    } cases[] = {{"/sized", true}, {"/detour", true}, {"/challenge", true}, {"/unsized", false}};
    for (const auto& c : cases) {
        Tarnwell::LibcurlWrapper session;
        session.setUsername("user");
        session.setPassword("secret");
        const Tarnwell::Response response = session.makeRequest(server.url(c.path), "GET", {}, "");
        EXPECT_EQ(response.responseCode, 200) << c.path;
        EXPECT_EQ(response.body, BODY) << c.path;
        if (c.announced) {
            EXPECT_EQ(response.body.capacity(), BODY.size()) << c.path;
        }
    }
}

}  // namespace
