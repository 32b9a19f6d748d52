#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include "probe/probe.h"
#include "support/peers.h"

namespace corvale {
namespace {

using testing::UdpPeer;

std::string u16(uint16_t v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }

std::string wire_name(std::string_view dotted) {
  std::string out;
  size_t start = 0;
  while (start < dotted.size()) {
    size_t dot = std::min(dotted.find('.', start), dotted.size());
    out.push_back(static_cast<char>(dot - start));
    out.append(dotted.substr(start, dot - start));
    start = dot + 1;
  }
  out.push_back('\0');
  return out;
}

const std::string kPtrToQuestion("\xC0\x0C", 2);

std::string header(uint16_t answers) {
  return u16(0x1234) + u16(0x8180) + u16(1) + u16(answers) + u16(0) + u16(0);
}
std::string question() { return wire_name(kDnsProbeName) + u16(1) + u16(1); }
std::string record(const std::string& name, uint16_t type, const std::string& data) {
  return name + u16(type) + u16(1) + std::string("\0\0\x0e\x10", 4) +
         u16(static_cast<uint16_t>(data.size())) + data;
}
std::string ipv4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return {static_cast<char>(a), static_cast<char>(b), static_cast<char>(c), static_cast<char>(d)};
}

// CNAME www.baidu.com -> www.a.shifen.com, then its A record whose name
// points into the CNAME data (offset 12 + question + record head).
std::string cname_then_a() {
  std::string reply = header(2) + question();
  const size_t cname_data_at = reply.size() + 2 + 10;
  reply += record(kPtrToQuestion, 5, wire_name("www.a.shifen.com"));
  std::string ptr = {static_cast<char>(0xC0 | (cname_data_at >> 8)),
                     static_cast<char>(cname_data_at & 0xFF)};
  return reply + record(ptr, 1, ipv4(203, 0, 113, 7));
}

TEST(BuildDnsQuery, WireBytes) {
  std::string expected = std::string("\x12\x34\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00", 12) +
                         std::string(
                             "\x03www\x05"
                             "baidu\x03"
                             "com\x00\x00\x01\x00\x01",
                             19);
  EXPECT_EQ(build_dns_query(0x1234, "www.baidu.com"), expected);
  // Empty labels are dropped; over-long labels are cut so no length byte looks like a pointer.
  EXPECT_EQ(build_dns_query(1, ".a..b."),
            std::string("\x00\x01\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00", 12) +
                std::string("\x01"
                            "a\x01"
                            "b\x00\x00\x01\x00\x01",
                            9));
  std::string long_query = build_dns_query(1, std::string(100, 'x'));
  EXPECT_EQ(static_cast<uint8_t>(long_query[12]), 63);
}

TEST(ParseDnsAnswer, Table) {
  std::string base = header(1) + question();
  std::string aaaa = std::string(15, '\0') + "\x01";
  struct Row {
    const char* what;
    std::string reply;
    std::string answer;
  } rows[] = {
      {"cname then a", cname_then_a(), "203.0.113.7"},
      {"plain a with full name", base + record(wire_name("www.baidu.com"), 1, ipv4(1, 2, 3, 4)),
       "1.2.3.4"},
      {"zero answers", header(0) + question(), ""},
      {"shorter than a header", std::string("\x12\x34\x81\x80\x00", 5), ""},
      {"count larger than records, a first",
       header(5) + question() + record(kPtrToQuestion, 1, ipv4(9, 9, 9, 9)), "9.9.9.9"},
      {"count larger than records, no a",
       header(3) + question() + record(kPtrToQuestion, 5, wire_name("x.y")), ""},
      {"aaaa skipped, then a",
       header(2) + question() + record(kPtrToQuestion, 28, aaaa) +
           record(kPtrToQuestion, 1, ipv4(5, 6, 7, 8)),
       "5.6.7.8"},
      {"type a with wrong length skipped",
       header(2) + question() + record(kPtrToQuestion, 1, ipv4(1, 1, 1, 1) + "xx") +
           record(kPtrToQuestion, 1, ipv4(2, 2, 2, 2)),
       "2.2.2.2"},
      {"a data cut short",
       base + kPtrToQuestion + u16(1) + u16(1) + std::string(4, '\0') + u16(4) + "\x0a\x00", ""},
      {"pointer as last byte", base + "\xC0", ""},
      {"label length past the end",
       base + "\x3f"
              "abc",
       ""},
      {"question name runs off", header(1) + "\x07www", ""},
      {"record length past the end",
       base + kPtrToQuestion + u16(5) + u16(1) + std::string(4, '\0') + u16(0xFFFF), ""},
      {"many answers, no records", header(0xFFFF) + question(), ""},
  };
  for (const auto& r : rows) EXPECT_EQ(parse_dns_answer(r.reply), r.answer) << r.what;
}

TEST(ParseDnsAnswer, EveryTruncationIsSafe) {
  const std::string full = cname_then_a();
  ASSERT_EQ(parse_dns_answer(full), "203.0.113.7");
  // The A record is last, so no shorter prefix may produce an address.
  for (size_t n = 0; n < full.size(); ++n) EXPECT_EQ(parse_dns_answer(full.substr(0, n)), "") << n;
}

TEST(ParseDnsAnswer, RandomBytesNeverReadOutOfBounds) {
  std::mt19937 rng(42);
  const std::string full = cname_then_a();
  for (int i = 0; i < 20000; ++i) {
    std::string reply = full;
    // Mutate a few bytes of a valid reply, or start from noise.
    if (i % 2) {
      reply.assign(12 + rng() % 80, '\0');
      for (char& c : reply) c = static_cast<char>(rng());
    } else {
      for (int k = 0; k < 4; ++k) reply[rng() % reply.size()] = static_cast<char>(rng());
    }
    std::string a = parse_dns_answer(reply);
    if (!a.empty()) {
      EXPECT_EQ(std::count(a.begin(), a.end(), '.'), 3);
    }
  }
}

// ---- over loopback ---------------------------------------------------------

// `reply` carrying the transaction id of `query`, as a resolver answers.
std::string answering(std::string_view query, std::string reply) {
  if (query.size() >= 2 && reply.size() >= 2) reply.replace(0, 2, query.substr(0, 2));
  return reply;
}

using Ms = std::chrono::milliseconds;

Ms wall_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - t);
}

TEST(DnsProbe, CnameThenAOverUdp) {
  REQUIRE_ISOLATED_NETWORK();
  const std::string addr = testing::fresh_loopback_v4();
  UdpPeer peer([](std::string_view q) { return answering(q, cname_then_a()); }, addr);
  ASSERT_TRUE(peer.ok());
  DnsProbeResult r = dns_probe(addr, 2000);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.answer, "203.0.113.7");
  EXPECT_LT(r.elapsed_ms, 1000u);
  ASSERT_EQ(peer.queries().size(), 1u);
  EXPECT_EQ(peer.queries()[0],
            build_dns_query(static_cast<uint16_t>(::getpid() & 0xFFFF), kDnsProbeName));
}

TEST(DnsProbe, Ipv6Resolver) {
  REQUIRE_ISOLATED_NETWORK();
  UdpPeer peer([](std::string_view q) { return answering(q, cname_then_a()); }, "::1");
  ASSERT_TRUE(peer.ok());
  DnsProbeResult r = dns_probe("[::1]", 2000);
  EXPECT_EQ(r.answer, "203.0.113.7");
}

TEST(DnsProbe, ZeroAnswersHasFiniteTime) {
  REQUIRE_ISOLATED_NETWORK();
  const std::string addr = testing::fresh_loopback_v4();
  UdpPeer peer([](std::string_view q) { return answering(q, header(0) + question()); }, addr);
  DnsProbeResult r = dns_probe(addr, 2000);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.answer, "");
  EXPECT_LT(r.elapsed_ms, 1000u);
}

TEST(DnsProbe, ShortReplyCountsAsNoReplyWithoutWaiting) {
  REQUIRE_ISOLATED_NETWORK();
  const std::string addr = testing::fresh_loopback_v4();
  UdpPeer peer([](std::string_view) { return std::string("\x12\x34\x81", 3); }, addr);
  auto start = std::chrono::steady_clock::now();
  DnsProbeResult r = dns_probe(addr, 3000);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.elapsed_ms, kNoReplyMs);
  EXPECT_LT(wall_since(start), Ms(1000));
}

TEST(DnsProbe, SilentResolverTimesOutOnTime) {
  REQUIRE_ISOLATED_NETWORK();
  const std::string addr = testing::fresh_loopback_v4();
  UdpPeer peer([](std::string_view) { return std::nullopt; }, addr);
  auto start = std::chrono::steady_clock::now();
  DnsProbeResult r = dns_probe(addr, 300);
  Ms took = wall_since(start);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.elapsed_ms, kNoReplyMs);
  EXPECT_GE(took, Ms(290));
  EXPECT_LT(took, Ms(800));
  EXPECT_EQ(peer.queries().size(), 1u);
}

// A resolver on `addr` that, for the one query it gets, first lets a
// stranger on `other` answer, then answers with another transaction id
// itself, and only after `delay` gives the real answer (unless `honest` is
// false). Returns once the exchange is over.
class SpoofedResolver {
 public:
  SpoofedResolver(const std::string& addr, const std::string& other, Ms delay, bool honest)
      : sock_(bound(addr, 53)), stranger_(bound(other, 0)) {
    thread_ = std::thread([=, this] {
      char buf[512];
      sockaddr_in from{};
      socklen_t len = sizeof from;
      ssize_t n =
          ::recvfrom(sock_.get(), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n < 12) return;
      std::string q(buf, static_cast<size_t>(n));
      auto send = [&](int fd, const std::string& r) {
        ::sendto(fd, r.data(), r.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
      };
      std::string forged = answering(q, cname_then_a());
      forged[forged.size() - 1] = 66;  // 203.0.113.66 from a stranger
      send(stranger_.get(), forged);
      std::string wrong_id = forged;
      wrong_id[0] = static_cast<char>(~q[0]);  // right sender, other query
      send(sock_.get(), wrong_id);
      std::this_thread::sleep_for(delay);
      if (honest) send(sock_.get(), answering(q, cname_then_a()));
    });
  }
  ~SpoofedResolver() { thread_.join(); }
  bool ok() const { return sock_.valid() && stranger_.valid(); }

 private:
  static UniqueFd bound(const std::string& addr, uint16_t port) {
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, addr.c_str(), &a.sin_addr);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) fd.reset();
    return fd;
  }
  UniqueFd sock_, stranger_;
  std::thread thread_;
};

TEST(DnsProbe, RepliesFromStrangersOrForOtherQueriesAreIgnored) {
  REQUIRE_ISOLATED_NETWORK();
  for (bool honest : {true, false}) {
    const std::string addr = testing::fresh_loopback_v4();
    auto start = std::chrono::steady_clock::now();
    DnsProbeResult r;
    {
      SpoofedResolver peer(addr, testing::fresh_loopback_v4(), Ms(150), honest);
      ASSERT_TRUE(peer.ok());
      r = dns_probe(addr, 600);
    }
    if (honest) {
      EXPECT_EQ(r.answer, "203.0.113.7");
      EXPECT_GE(r.elapsed_ms, 140u);
    } else {
      EXPECT_FALSE(r.ok) << r.answer;
      EXPECT_EQ(r.elapsed_ms, kNoReplyMs);
      EXPECT_GE(wall_since(start), Ms(590));
    }
  }
}

TEST(DnsProbe, NoAddressNoQuery) {
  // An empty or bracket-only resolver resolves to nothing: no socket is opened.
  for (const char* resolver : {"", "[]", "[[]]"}) {
    DnsProbeResult r = dns_probe(resolver, 100);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.elapsed_ms, kNoReplyMs);
  }
}

TEST(DnsProbe, Dnsmasq) {
  REQUIRE_ISOLATED_NETWORK();
  const std::string dnsmasq = testing::program_path("dnsmasq");
  if (dnsmasq.empty()) GTEST_SKIP() << "dnsmasq is not installed";
  const std::string addr = testing::fresh_loopback_v4();
  testing::ChildProcess server({dnsmasq, "--no-daemon", "--port=53", "--no-resolv", "--no-hosts",
                                "--address=/#/203.0.113.80", "--listen-address=" + addr,
                                "--bind-interfaces", "--conf-file=/dev/null",
                                "--pid-file=", "--user=root"});
  ASSERT_TRUE(server.started());
  DnsProbeResult r;
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!r.ok && std::chrono::steady_clock::now() < until) r = dns_probe(addr, 200);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.answer, "203.0.113.80");
  EXPECT_LT(r.elapsed_ms, 200u);
}

}  // namespace
}  // namespace corvale
