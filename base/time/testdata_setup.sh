#!/bin/bash
# Outside-oracle data for the time tests: random instants from 1601 to 30827 with their broken-down UTC form
# from glibc's gmtime_r. Usage: testdata_setup.sh DATA_DIR BIN_DIR
set -euo pipefail
D=$1
rm -rf "$D"; mkdir -p "$D"
cat > "$D/gmtime_oracle.c" <<'C'
/* Prints "microseconds year month weekday day hour minute second millisecond seconds_since_1970" per line for
   instants counted in microseconds since 1601-01-01 UTC: some boundaries, then COUNT random ones. */
#define _GNU_SOURCE
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static const int64_t kOffsetSeconds = 11644473600LL; /* 1601-01-01 to 1970-01-01 */

static void print_line(int64_t us) {
  time_t seconds = (time_t)(us / 1000000 - kOffsetSeconds);
  struct tm tm;
  if (!gmtime_r(&seconds, &tm)) {
    perror("gmtime_r");
    exit(1);
  }
  /* Seconds since 1970, truncated toward zero as C division does. */
  int64_t time_t_value = (us - kOffsetSeconds * 1000000) / 1000000;
  printf("%lld %d %d %d %d %d %d %d %d %lld\n", (long long)us, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_wday,
         tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, (int)(us % 1000000 / 1000), (long long)time_t_value);
}

static uint64_t state;
static uint64_t next_random(void) { /* xorshift64* */
  state ^= state >> 12;
  state ^= state << 25;
  state ^= state >> 27;
  return state * 2685821657736338717ULL;
}

int main(int argc, char** argv) {
  long count = atol(argv[1]);
  state = strtoull(argv[2], NULL, 10) | 1;
  struct tm end = {0};
  end.tm_year = 30828 - 1900;
  end.tm_mon = 0;
  end.tm_mday = 1;
  /* The first microsecond of 30828 is one past the range. */
  int64_t range = ((int64_t)timegm(&end) + kOffsetSeconds) * 1000000;
  int64_t boundaries[] = {0, 1, 999, 1000, 86399999999LL, kOffsetSeconds * 1000000 - 1, kOffsetSeconds * 1000000,
                          kOffsetSeconds * 1000000 + 1, range - 1};
  for (size_t i = 0; i < sizeof(boundaries) / sizeof(boundaries[0]); ++i)
    print_line(boundaries[i]);
  for (long i = 0; i < count; ++i)
    print_line((int64_t)(next_random() % (uint64_t)range));
  return 0;
}
C
gcc -O2 -o "$D/gmtime_oracle" "$D/gmtime_oracle.c"
seed=$(od -An -N8 -tu8 /dev/urandom | tr -d ' ')
echo "gmtime oracle seed $seed"
"$D/gmtime_oracle" 100000 "$seed" > "$D/gmtime.txt"
[ "$(wc -l < "$D/gmtime.txt")" -eq 100009 ]
# The first line is the file-time epoch, a Monday.
[ "$(head -n 1 "$D/gmtime.txt")" = "0 1601 1 1 1 0 0 0 0 -11644473600" ]
