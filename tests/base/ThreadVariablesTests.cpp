// The program's own storage of thread_local variables: initial values, one copy per thread, alignment,
// many variables, and the runtime's per-thread exception state, which lives there too.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

thread_local int t_counter = 41;
thread_local const char* t_name = "initial";
struct alignas(64) Wide {
  unsigned char bytes[64];
};
thread_local Wide t_wide{{7}};
thread_local long long t_zero;

// More variables than the first per-thread array holds, so that it has to grow.
#define QOR_MANY(n) thread_local int t_many##n = n;
QOR_MANY(0) QOR_MANY(1) QOR_MANY(2) QOR_MANY(3) QOR_MANY(4) QOR_MANY(5) QOR_MANY(6) QOR_MANY(7)
QOR_MANY(8) QOR_MANY(9) QOR_MANY(10) QOR_MANY(11) QOR_MANY(12) QOR_MANY(13) QOR_MANY(14) QOR_MANY(15)
QOR_MANY(16) QOR_MANY(17) QOR_MANY(18) QOR_MANY(19) QOR_MANY(20) QOR_MANY(21) QOR_MANY(22) QOR_MANY(23)
QOR_MANY(24) QOR_MANY(25) QOR_MANY(26) QOR_MANY(27) QOR_MANY(28) QOR_MANY(29) QOR_MANY(30) QOR_MANY(31)
QOR_MANY(32) QOR_MANY(33) QOR_MANY(34) QOR_MANY(35) QOR_MANY(36) QOR_MANY(37) QOR_MANY(38) QOR_MANY(39)
#undef QOR_MANY

int SumOfMany() {
  int* all[] = {&t_many0,  &t_many1,  &t_many2,  &t_many3,  &t_many4,  &t_many5,  &t_many6,  &t_many7,
                &t_many8,  &t_many9,  &t_many10, &t_many11, &t_many12, &t_many13, &t_many14, &t_many15,
                &t_many16, &t_many17, &t_many18, &t_many19, &t_many20, &t_many21, &t_many22, &t_many23,
                &t_many24, &t_many25, &t_many26, &t_many27, &t_many28, &t_many29, &t_many30, &t_many31,
                &t_many32, &t_many33, &t_many34, &t_many35, &t_many36, &t_many37, &t_many38, &t_many39};
  int sum = 0;
  for (int* p : all) sum += *p;
  return sum;
}

}  // namespace

TEST(ThreadVariables, EachThreadStartsFromTheInitialValuesAndKeepsItsOwnCopy) {
  t_counter = 1000;
  t_name = "main";
  t_wide.bytes[0] = 99;
  t_many39 = 0;
  struct Seen {
    int counter, wideFirst, wideSecond, sum;
    long long zero;
    std::string name;
    uintptr_t wideAddress;
  } seen[4];
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&seen, i] {
      seen[i] = {t_counter, t_wide.bytes[0], t_wide.bytes[1], SumOfMany(), t_zero, t_name,
                 reinterpret_cast<uintptr_t>(&t_wide)};
      t_counter = i;  // a thread's writes stay its own
      seen[i].counter += 100 * (t_counter == i);
    });
  for (auto& t : threads) t.join();
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(seen[i].counter, 141);
    EXPECT_EQ(seen[i].name, "initial");
    EXPECT_EQ(seen[i].wideFirst, 7);
    EXPECT_EQ(seen[i].wideSecond, 0);
    EXPECT_EQ(seen[i].zero, 0);
    EXPECT_EQ(seen[i].sum, 39 * 40 / 2);
    EXPECT_EQ(seen[i].wideAddress % 64, 0u) << "alignas(64) kept";
  }
  EXPECT_EQ(t_counter, 1000);
  EXPECT_STREQ(t_name, "main");
  EXPECT_EQ(t_wide.bytes[0], 99);
  EXPECT_EQ(SumOfMany(), 39 * 40 / 2 - 39);
}

// The runtime keeps each thread's exceptions in flight in a thread variable: many threads that throw
// and catch at the same time must each see their own.
TEST(ThreadVariables, ExceptionsInManyThreadsAtOnceStayApart) {
  std::atomic<int> wrong{0};
  std::atomic<int> caught{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&, i] {
      for (int round = 0; round < 200; ++round) {
        try {
          try {
            throw std::runtime_error(std::to_string(i));
          } catch (const std::runtime_error& inner) {
            if (std::string(inner.what()) != std::to_string(i)) ++wrong;
            throw;  // rethrows this thread's own exception
          }
        } catch (const std::exception& outer) {
          if (std::string(outer.what()) != std::to_string(i)) ++wrong;
          ++caught;
        }
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(caught.load(), 8 * 200);
}
