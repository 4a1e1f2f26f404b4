// Another thread writing into a call's input arrays while the call runs may
// make the result garbage, or make the call fail with one of its stated
// argument errors, but never makes it touch memory outside its own buffers.
// The race is deliberate: this test runs under AddressSanitizer
// (make sanitize) and stays out of the ThreadSanitizer job.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tessaline/tessaline.hpp"

namespace {

using namespace tessaline;

constexpr std::size_t kRows = std::size_t{1} << 16;  // past every sampled and bucketed path

// Values the writer cycles through: NaN, infinities, finite values inside and
// far outside the data's range, labels other than 0/1, signed zeros.
const double kHostile[] = {std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity(),
                           -1e300,
                           1e300,
                           -0.0,
                           0.0,
                           1.0,
                           2.0,
                           -1.0,
                           0.5,
                           1e-310};

// Overwrites random slots of the arrays until told to stop. Plain stores
// through a volatile pointer: a caller's thread writing without any
// synchronisation.
class Writer {
  public:
    Writer(std::vector<double>& x, std::vector<double>& y, std::vector<int>& labels,
           std::vector<double>& reps)
        : thread_([&, this] {
              uint64_t state = 12345;
              while (!stop_.load(std::memory_order_relaxed)) {
                  state = state * 6364136223846793005ull + 1442695040888963407ull;
                  const std::size_t i = (state >> 20) % kRows;
                  const double v = kHostile[(state >> 8) % std::size(kHostile)];
                  static_cast<volatile double*>(x.data())[i] = v;
                  static_cast<volatile double*>(y.data())[(i * 7) % kRows] = v;
                  static_cast<volatile int*>(labels.data())[(i * 13) % kRows] =
                      static_cast<int>((state >> 40) % 4) - 1;
                  if ((state >> 50) % 64 == 0) {
                      static_cast<volatile double*>(reps.data())[(state >> 44) % reps.size()] = v;
                  }
              }
          }) {}
    ~Writer() {
        stop_ = true;
        thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(ConcurrentWrites, EveryEntryPointStaysInsideItsBuffers) {
    std::vector<double> x(kRows), y(kRows), reps = {-1.0, 0.0, 1.0, 2.0};
    std::vector<int> labels(kRows);
    for (std::size_t i = 0; i < kRows; ++i) {
        x[i] = std::sin(static_cast<double>(i)) * 100.0;
        y[i] = static_cast<double>(i % 3 == 0);
        labels[i] = static_cast<int>(i % 2);
    }
    const std::vector<double> cuts = {-50.0, 0.0, 50.0};
    TessalineParams params;
    params.minobs = 100;
    std::vector<std::pair<std::string, std::function<void()>>> calls = {
        {"preprocess", [&] { preprocess_data(x.data(), y.data(), kRows, std::nullopt, 50.0); }},
        {"preprocess at a percentile",
         [&] { preprocess_data(x.data(), x.data(), kRows, std::nullopt, 30.0); }},
        {"full mdlp",
         [&] {
             fit_mdlp_full_from_raw(x.data(), y.data(), kRows, params, std::nullopt, 50.0,
                                    SummaryStatistic::Median);
         }},
        {"quantile cuts", [&] { quantile_splits(x.data(), kRows, 10); }},
        {"equal-width cuts",
         [&] { equal_width_splits(x.data(), kRows, 10, WidthRange::Iqr, 0.05, 0.95, 1.5); }},
        {"bins", [&] { assign_bins(x.data(), kRows, cuts); }},
        {"binary summary, median",
         [&] { summarize_binary(x.data(), labels.data(), kRows, cuts, SummaryStatistic::Median); }},
        {"continuous summary, median",
         [&] { summarize_continuous(x.data(), y.data(), kRows, cuts, SummaryStatistic::Median); }},
        {"distributions",
         [&] { compare_distributions(x.data(), kRows, y.data(), kRows, cuts, 1e-6); }},
        {"lorenz curve", [&] { lorenz_curve(x.data(), labels.data(), kRows); }},
        {"membership", [&] { membership_matrix(x.data(), kRows, reps.data(), reps.size()); }},
    };
    Writer writer(x, y, labels, reps);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < until) {
        for (const auto& [name, call] : calls) {
            try {
                call();
            } catch (const std::invalid_argument&) {
                // A stated argument error of what the call happened to read.
            } catch (const std::exception& e) {
                ADD_FAILURE() << name << ": " << e.what();
            }
        }
    }
}

}  // namespace
