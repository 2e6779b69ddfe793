// Boost.Beast on Asio: asynchronous, two threads running one io_context.
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <memory>
#include <thread>

#include "body.h"
namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
static std::string b = Body();
struct Session : std::enable_shared_from_this<Session> {
    beast::tcp_stream s;
    beast::flat_buffer buf;
    http::request<http::string_body> req;
    http::response<http::string_body> res;
    Session(tcp::socket&& sock) : s(std::move(sock)) {}
    void Read() {
        req = {};
        http::async_read(s, buf, req, [self = shared_from_this()](beast::error_code ec, size_t) {
            if (!ec) self->Write();
        });
    }
    void Write() {
        res = {http::status::ok, req.version()};
        res.set(http::field::content_type, "application/json");
        res.body() = b;
        res.keep_alive(req.keep_alive());
        res.prepare_payload();
        http::async_write(s, res, [self = shared_from_this()](beast::error_code ec, size_t) {
            if (!ec && self->res.keep_alive()) self->Read();
        });
    }
};
struct Listener : std::enable_shared_from_this<Listener> {
    net::io_context& ioc;
    tcp::acceptor a;
    Listener(net::io_context& i, tcp::endpoint e) : ioc(i), a(i, e) {}
    void Accept() {
        a.async_accept(net::make_strand(ioc),
                       [self = shared_from_this()](beast::error_code ec, tcp::socket s) {
                           if (!ec) std::make_shared<Session>(std::move(s))->Read();
                           self->Accept();
                       });
    }
};
int main() {
    net::io_context ioc{2};
    std::make_shared<Listener>(ioc, tcp::endpoint{net::ip::make_address("127.0.0.1"), 18083})->Accept();
    std::thread t([&] { ioc.run(); });
    ioc.run();
    t.join();
}
