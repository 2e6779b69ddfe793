// The HTTP front end's pure rules: address buckets, the client a trusted
// proxy names, how much of a request is taken, and database addresses as
// the log shows them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/db.h"
#include "server/front.h"

TEST(AddressBucket, Ipv4IsItselfAndIpv6ItsSlash64) {
    struct Case {
        const char* address;
        const char* bucket;
    } cases[] = {
        {"192.0.2.7", "192.0.2.7"},
        {"127.0.0.1", "127.0.0.1"},
        {"::ffff:192.0.2.7", "192.0.2.7"},  // IPv4 written as IPv6: the same client
        {"2001:db8:1:2::1", "2001:db8:1:2::/64"},
        {"2001:db8:1:2:ffff:ffff:ffff:ffff", "2001:db8:1:2::/64"},
        {"2001:0DB8:0001:0002:0:0:0:9", "2001:db8:1:2::/64"},
        {"[2001:db8:1:2::1]", "2001:db8:1:2::/64"},
        {"2001:db8:1:3::1", "2001:db8:1:3::/64"},
        {"::1", "0:0:0:0::/64"},
        {"fe80::1", "fe80:0:0:0::/64"},
        {"not an address", "not an address"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(AddressBucket(c.address), c.bucket) << c.address;
    EXPECT_NE(AddressBucket("2001:db8:1:2::1"), AddressBucket("2001:db8:1:3::1"));
}

TEST(ForwardedClient, TheLastAddressOverAllLines) {
    using L = std::vector<std::string>;
    struct Case {
        L lines;
        const char* client;
    } cases[] = {
        {{"192.0.2.7"}, "192.0.2.7"},
        {{"10.0.0.1, 192.0.2.7"}, "192.0.2.7"},
        {{"10.0.0.1,192.0.2.7"}, "192.0.2.7"},
        {{"10.0.0.1", "192.0.2.7"}, "192.0.2.7"},        // the client's own line first
        {{"192.0.2.8", "10.0.0.1, 192.0.2.9"}, "192.0.2.9"},
        {{" 2001:db8::5 "}, "2001:db8::5"},
        {{"10.0.0.1, "}, ""},                            // the proxy's entry is empty
        {{"10.0.0.1, unknown"}, ""},
        {{"192.0.2.7", "garbage"}, ""},                  // never an earlier, client-written one
        {{"192.0.2.7\r\nverify game=1"}, ""},
        {{}, ""},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const std::string& l : c.lines) joined += "[" + l + "]";
        EXPECT_EQ(ForwardedClient(c.lines), c.client) << joined;
    }
}

namespace {
// Feeds the text in pieces of at most step bytes, as reads would; returns
// the bytes taken and leaves the guard's state in g.
size_t Feed(RequestGuard& g, const std::string& text, size_t step) {
    size_t taken = 0;
    for (size_t at = 0; at < text.size(); at += step) {
        size_t n = std::min(step, text.size() - at);
        size_t got = g.Take(text.data() + at, n);
        taken += got;
        if (got < n) break;
    }
    return taken;
}
}  // namespace

TEST(RequestGuard, CutsWhereALimitIsReached) {
    std::string head = "POST /api/v1/games HTTP/1.1\r\nHost: x\r\n";
    std::string many;
    for (int i = 0; i < 100; i++) many += "X-" + std::to_string(i) + ": v\r\n";
    struct Case {
        const char* what;
        std::string text;
        int refusal;
        size_t taken;  // npos: all of it
    } cases[] = {
        {"a plain request", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", 0, std::string::npos},
        {"bare line feeds", "GET / HTTP/1.1\nHost: x\n\n", 0, std::string::npos},
        {"a line of 8192 bytes", "GET / HTTP/1.1\r\nX: " + std::string(8189, 'a') + "\r\n\r\n", 0, std::string::npos},
        {"a line of 8193 bytes", "GET / HTTP/1.1\r\nX: " + std::string(8190, 'a') + "\r\n\r\n", 431,
         16 + 8192},
        {"a line of carriage returns", "GET / HTTP/1.1\r\nX: " + std::string(9000, '\r') + "\n\r\n", 431, 16 + 8193},
        {"a request line of 8193 bytes", "GET /" + std::string(8188, 'a') + "\r\n\r\n", 414, 8192},
        {"100 headers", "GET / HTTP/1.1\r\n" + many + "\r\n", 0, std::string::npos},
        {"101 headers", "GET / HTTP/1.1\r\nHost: x\r\n" + many + "\r\n", 431, 16 + 9 + many.size() - 1},
        {"a body of 1000 bytes", head + "Content-Length: 1000\r\n\r\n" + std::string(1000, 'b'), 0,
         std::string::npos},
        {"a body of 1001 bytes", head + "Content-Length: 1001\r\n\r\n" + std::string(1001, 'b'), 413,
         head.size() + 24 + 1000},
        {"a blank line before the request", "\r\nGET / HTTP/1.1\r\n\r\n", 0, std::string::npos},
    };
    for (const Case& c : cases) {
        for (size_t step : {size_t(1), size_t(7), size_t(4096), size_t(1) << 20}) {
            RequestGuard g;
            g.maxBody = 1000;
            size_t taken = Feed(g, c.text, step);
            EXPECT_EQ(g.refusal, c.refusal) << c.what << " in reads of " << step;
            EXPECT_EQ(taken, c.taken == std::string::npos ? c.text.size() : c.taken)
                << c.what << " in reads of " << step;
            // Once refused, nothing more is taken.
            if (g.refusal) {
                EXPECT_EQ(g.Take("x", 1), 0u) << c.what;
            }
        }
    }
}

TEST(DatabaseAddress, EveryPasswordIsMasked) {
    struct Case {
        const char* address;
        const char* shown;
    } cases[] = {
        {"scores.sqlite", "scores.sqlite"},
        {"/var/lib/wormlob2/my=odd.sqlite", "/var/lib/wormlob2/my=odd.sqlite"},
        {"postgresql://wormlob@db/scores", "postgresql://wormlob@db/scores"},
        {"postgresql://db:5432/scores", "postgresql://db:5432/scores"},
        {"postgresql://wormlob:secret@db:5432/scores", "postgresql://wormlob:***@db:5432/scores"},
        {"postgres://wormlob:se@cret@db/scores", "postgres://wormlob:***@db/scores"},
        {"postgresql://wormlob:secret@db/scores?sslmode=require", "postgresql://wormlob:***@db/scores?sslmode=require"},
        {"postgresql://wormlob@db/scores?password=secret", "postgresql://wormlob@db/scores?password=***"},
        {"postgresql://wormlob@db/scores?sslmode=require&password=secret&application_name=w",
         "postgresql://wormlob@db/scores?sslmode=require&password=***&application_name=w"},
        {"postgresql://db/scores?user=a@b&password=secret", "postgresql://db/scores?user=a@b&password=***"},
        {"postgresql://u:one@db/s?password=two&password=three", "postgresql://u:***@db/s?password=***&password=***"},
        {"host=db dbname=scores password=secret", "host=db dbname=scores password=***"},
        {"password=secret host=db", "password=*** host=db"},
        {"host=db password = secret user=w", "host=db password = *** user=w"},
        {"host=db password='sec ret' user=w", "host=db password=*** user=w"},
        {"host=db password='it\\'s secret' user=w", "host=db password=*** user=w"},
        {"host=db passfile=/etc/pg user=w", "host=db passfile=/etc/pg user=w"},
    };
    for (const Case& c : cases) EXPECT_EQ(PrintableAddress(c.address), c.shown) << c.address;
    EXPECT_TRUE(IsPostgresAddress("host=db dbname=scores"));
    EXPECT_TRUE(IsPostgresAddress("postgresql://db/scores"));
    EXPECT_FALSE(IsPostgresAddress("scores.sqlite"));
    EXPECT_FALSE(IsPostgresAddress("/var/lib/wormlob2/my=odd.sqlite"));
}
