// The metrics endpoint over real HTTP on loopback: what it serves and refuses, a port that is
// taken, and scrapes that run while samples are published and while the model is locked.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "monitor/metrics/MetricsServer.h"
#include "monitor/model/ModelLock.h"

namespace ombrix {
namespace {

const bool CurlReady = curl_global_init(CURL_GLOBAL_DEFAULT) == 0;

struct TReply {
  CURLcode Result = CURLE_FAILED_INIT;
  long Status = 0;
  std::string Body;
};

std::size_t Append(char* data, std::size_t size, std::size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

// A bounded wait: a server that never answers fails the test instead of hanging it.
TReply Get(int port, const std::string& path = "/metrics", long timeoutSeconds = 30) {
  TReply reply;
  const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(),
                                                                 &curl_easy_cleanup);
  if (!CurlReady || !curl) return reply;
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + path;
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_PATH_AS_IS, 1L);  // "/../" goes to the server as it is
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, timeoutSeconds);
  curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &Append);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &reply.Body);
  reply.Result = curl_easy_perform(curl.get());
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &reply.Status);
  return reply;
}

// The value on the line that starts with series (its name and labels); -1 when none does.
double LineValue(const std::string& text, const std::string& series) {
  const std::size_t at = text.find("\n" + series + " ");
  if (at == std::string::npos) return -1;
  return std::stod(text.substr(at + series.size() + 2));
}

std::shared_ptr<TMetricsSample> GroupSample(double k) {
  auto s = std::make_shared<TMetricsSample>();
  s->Samples = k;
  s->Groups = {{"a", k, 2 * k}};
  return s;
}

class MetricsServer : public ::testing::Test {
 protected:
  std::shared_ptr<TMetricsExporter> exporter = std::make_shared<TMetricsExporter>();
  TMetricsServer server{"127.0.0.1:0", exporter};
};

TEST_F(MetricsServer, ServesTheLastPublishedSampleAtMetrics) {
  ASSERT_GT(server.Port(), 0);
  TReply reply = Get(server.Port());
  ASSERT_EQ(reply.Result, CURLE_OK);
  EXPECT_EQ(reply.Status, 200);
  EXPECT_EQ(reply.Body.find("ombrix_"), std::string::npos);  // no sample yet

  exporter->Publish(GroupSample(3));
  exporter->Publish(GroupSample(4));
  reply = Get(server.Port());
  EXPECT_EQ(reply.Status, 200);
  EXPECT_EQ(LineValue(reply.Body, "ombrix_samples_total"), 4);
  EXPECT_EQ(LineValue(reply.Body, R"(ombrix_process_working_set_bytes{process="a"})"), 8);
}

TEST_F(MetricsServer, NothingButMetricsIsServed) {
  for (const char* path : {"/", "/etc/passwd", "/metrics/../../../../etc/passwd", "/index.html"}) {
    const TReply reply = Get(server.Port(), path);
    EXPECT_EQ(reply.Result, CURLE_OK) << path;
    EXPECT_NE(reply.Status, 200) << path;
    EXPECT_EQ(reply.Body.find("root:"), std::string::npos) << path;
  }
}

TEST_F(MetricsServer, ATakenPortIsRefusedNamingTheAddress) {
  const std::string address = "127.0.0.1:" + std::to_string(server.Port());
  try {
    TMetricsServer second(address, exporter);
    FAIL() << "a second server listens on " << address;
  } catch (const TServeError& e) {
    EXPECT_NE(std::string(e.what()).find(address), std::string::npos) << e.what();
  }
  EXPECT_THROW(TMetricsServer("192.0.2.1:0", exporter), TServeError);  // not this machine's
}

// Connections that never send a request each hold a server thread until their request times
// out (10 s); a scrape must still get a thread of its own, and so is not kept waiting that long.
TEST_F(MetricsServer, IdleConnectionsDoNotHoldUpAScrape) {
  exporter->Publish(GroupSample(1));
  std::vector<std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>> idle;
  for (int i = 0; i < 3; ++i) {
    idle.emplace_back(curl_easy_init(), &curl_easy_cleanup);
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port());
    curl_easy_setopt(idle.back().get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(idle.back().get(), CURLOPT_CONNECT_ONLY, 1L);
    ASSERT_EQ(curl_easy_perform(idle.back().get()), CURLE_OK);
  }
  const TReply reply = Get(server.Port(), "/metrics", 5);
  ASSERT_EQ(reply.Result, CURLE_OK) << curl_easy_strerror(reply.Result);
  EXPECT_EQ(LineValue(reply.Body, "ombrix_samples_total"), 1);
}

TEST_F(MetricsServer, AScrapeIsAnsweredWhileTheModelIsLocked) {
  exporter->Publish(GroupSample(1));
  std::lock_guard lock(ModelLock);  // as a long tick would hold it
  const TReply reply = Get(server.Port());
  ASSERT_EQ(reply.Result, CURLE_OK);
  EXPECT_EQ(LineValue(reply.Body, "ombrix_samples_total"), 1);
}

// Every scrape shows one whole sample: its counter and its group agree, and a later scrape
// never shows an older sample. Publishing goes on until both scrapers have scraped a while.
TEST_F(MetricsServer, ScrapesWhileSamplesArePublishedSeeWholeSamples) {
  std::atomic<bool> done{false};
  std::atomic<int> scrapes{0}, scraping{2};
  const auto scrape = [&](std::vector<double>& seen) {
    do {
      const TReply reply = Get(server.Port());
      if (reply.Result != CURLE_OK) {
        ADD_FAILURE() << curl_easy_strerror(reply.Result);
        break;
      }
      const double k = LineValue(reply.Body, "ombrix_samples_total");
      if (k > 0) {
        EXPECT_EQ(LineValue(reply.Body, R"(ombrix_processes{process="a"})"), k);
      }
      seen.push_back(k);
      ++scrapes;
    } while (!done.load());
    --scraping;
  };
  std::vector<double> first, second;
  std::thread a(scrape, std::ref(first)), b(scrape, std::ref(second));
  int k = 0;
  while (k < 300 || (scrapes.load() < 40 && scraping.load() == 2)) {
    exporter->Publish(GroupSample(++k));
    std::this_thread::yield();
  }
  done = true;
  a.join();
  b.join();
  for (const auto* seen : {&first, &second}) {
    ASSERT_FALSE(seen->empty());
    EXPECT_TRUE(std::is_sorted(seen->begin(), seen->end()));
  }
  EXPECT_EQ(LineValue(Get(server.Port()).Body, "ombrix_samples_total"), k);
}

}  // namespace
}  // namespace ombrix
