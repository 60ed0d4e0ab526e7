// A fresh process for the thread-local storage tests that depend on the process's first slot use:
//   race     8 threads make their first slot at once; prints how many TLS indexes the slots hold
//   exhaust  makes slots until the process stops; prints the count before each new one
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "base/threading/thread_local_storage.h"

namespace {

// The number of TLS indexes that can still be allocated (each is freed again).
int CountFreeTlsIndexes() {
  std::vector<DWORD> taken;
  for (DWORD index; (index = TlsAlloc()) != TLS_OUT_OF_INDEXES;)
    taken.push_back(index);
  for (DWORD index : taken)
    TlsFree(index);
  return static_cast<int>(taken.size());
}

constexpr int kRacers = 8;
base::ThreadLocalStorage::Slot g_racer_slots[kRacers];
volatile LONG g_arrived = 0;
LONG g_destroyed = 0;
int g_values[kRacers];

DWORD WINAPI Racer(void* parameter) {
  const int i = static_cast<int>(reinterpret_cast<INT_PTR>(parameter));
  // A spinning barrier releases the racers closer together than an event would.
  InterlockedIncrement(&g_arrived);
  while (g_arrived < kRacers)
    YieldProcessor();
  g_racer_slots[i].Initialize([](void*) { InterlockedIncrement(&g_destroyed); });
  g_racer_slots[i].Set(&g_values[i]);
  return g_racer_slots[i].Get() == &g_values[i] ? 0 : 1;
}

int Race() {
  const int free_before = CountFreeTlsIndexes();
  HANDLE threads[kRacers];
  for (int i = 0; i < kRacers; ++i)
    threads[i] = CreateThread(nullptr, 0, &Racer, reinterpret_cast<void*>(static_cast<INT_PTR>(i)), 0, nullptr);
  WaitForMultipleObjects(kRacers, threads, TRUE, INFINITE);
  int failures = 0;
  for (HANDLE thread : threads) {
    DWORD code = 1;
    GetExitCodeThread(thread, &code);
    failures += code != 0;
    CloseHandle(thread);
  }
  const int in_use = free_before - CountFreeTlsIndexes();
  printf("indexes in use by slots: %d\ndestroyed: %ld\nfailed threads: %d\n", in_use, g_destroyed, failures);
  return in_use == 1 && g_destroyed == kRacers && failures == 0 ? 0 : 1;
}

int Exhaust() {
  static base::ThreadLocalStorage::Slot slots[300];
  for (int count = 0; count < 300; ++count) {
    printf("initialized %d slots\n", count);
    fflush(stdout);
    slots[count].Initialize(nullptr);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "race") == 0)
    return Race();
  if (argc == 2 && strcmp(argv[1], "exhaust") == 0)
    return Exhaust();
  fprintf(stderr, "usage: thread_local_storage_test_child race|exhaust\n");
  return 2;
}
