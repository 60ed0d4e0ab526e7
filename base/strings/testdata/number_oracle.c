/* Outside oracle for the number conversions, built with the host's gcc and run on Linux: glibc's strtod,
   strtoll, strtoull and exact printf produce the expected results that the tests under wine compare with.
   Usage: number_oracle OUT_DIR, which writes:
     doubles.bin   1,000,000 records of 9 bytes: the double's bits (little-endian), then the length of its
                   shortest round-trip digit string (0 for Infinity and NaN)
     strtod.txt    text TAB bits (16 hex digits) TAB 1 when glibc set ERANGE TAB characters consumed
     integers.txt  text TAB base TAB strtoll value TAB ERANGE TAB consumed TAB strtoull value TAB ERANGE TAB
                   consumed
   Or: number_oracle --check-texts FILE, which reads lines "bits TAB text" that the tests wrote and checks
   that glibc's strtod reads every text, whole, back to exactly those bits.
   Texts are written with backslash escapes for tab, LF, VT, FF, CR and the backslash.
   The random choices come from a fixed seed, so every run writes the same files. */
#include <errno.h>
#include <float.h>
#include <inttypes.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static uint64_t rng_state = 0x9E3779B97F4A7C15ull;
static uint64_t Next(void) { /* xorshift64* */
  rng_state ^= rng_state >> 12;
  rng_state ^= rng_state << 25;
  rng_state ^= rng_state >> 27;
  return rng_state * 0x2545F4914F6CDD1Dull;
}
static unsigned Below(unsigned n) { return (unsigned)(Next() % n); }

static double FromBits(uint64_t bits) { double d; memcpy(&d, &bits, 8); return d; }
static uint64_t ToBits(double d) { uint64_t bits; memcpy(&bits, &d, 8); return bits; }

/* ---- shortest round-trip digit count, from exact printing and correctly rounded parsing ---- */

static int ReadsBack(double x, uint64_t mantissa, int exponent) {
  char text[64];
  snprintf(text, sizeof(text), "%" PRIu64 "e%d", mantissa, exponent);
  return ToBits(strtod(text, NULL)) == ToBits(x);
}

/* True when some decimal of at most p significant digits reads back to x: the candidates are the p-digit
   decimals just below and just above x, one of which is the correctly rounded one that printf gives. */
static int HasRoundTrip(double x, int p) {
  char text[64];
  snprintf(text, sizeof(text), "%.*e", p - 1, x);
  uint64_t mantissa = 0;
  const char* s = text;
  for (; *s != 'e'; ++s)
    if (*s >= '0' && *s <= '9') mantissa = mantissa * 10 + (uint64_t)(*s - '0');
  const int exponent = atoi(s + 1) - (p - 1);
  return ReadsBack(x, mantissa, exponent) || ReadsBack(x, mantissa + 1, exponent) ||
         (mantissa > 1 && ReadsBack(x, mantissa - 1, exponent));
}

static int ShortestLength(double x) {
  if (isnan(x) || isinf(x)) return 0;
  if (x == 0) return 1;
  x = fabs(x);
  int best = 17;
  for (int p = 16; p >= 1 && HasRoundTrip(x, p); --p) best = p;
  return best;
}

static double RandomDouble(unsigned i) {
  switch (i % 20) {
    case 0: case 1: case 2: case 3: case 4: case 5: case 6: case 7: case 8: case 9: { /* any finite pattern */
      uint64_t bits;
      do bits = Next(); while (((bits >> 52) & 0x7FF) == 0x7FF);
      return FromBits(bits);
    }
    case 10: case 11: /* subnormals of every width */
      return FromBits((Next() & 0x800FFFFFFFFFFFFFull) >> Below(52));
    case 12: { /* powers of ten and their neighbours */
      char text[16];
      snprintf(text, sizeof(text), "1e%d", (int)Below(632) - 323);
      double x = strtod(text, NULL);
      switch (Below(3)) { case 0: return x; case 1: return nextafter(x, 0); default: return nextafter(x, INFINITY); }
    }
    case 13: { /* powers of two and their neighbours, where the rounding interval is lopsided */
      double x = ldexp(1.0, (int)Below(2098) - 1074);
      switch (Below(3)) { case 0: return x; case 1: return nextafter(x, 0); default: return nextafter(x, INFINITY); }
    }
    case 14: case 15: case 16: { /* short decimals: most of their digits are not needed */
      char text[40];
      snprintf(text, sizeof(text), "%s%" PRIu64 "e%d", Below(2) ? "-" : "", Next() % 10000000 + 1,
               (int)Below(640) - 330);
      double x = strtod(text, NULL);
      return (isinf(x) || x == 0) ? 1.5 : x;
    }
    case 17: /* integers up to 2^53 and beyond */
      return (double)(Next() >> Below(64));
    case 18: /* the extremes */
      switch (Below(8)) {
        case 0: return DBL_MAX; case 1: return DBL_MIN; case 2: return nextafter(DBL_MIN, 0);
        case 3: return FromBits(1); case 4: return -0.0; case 5: return 0.0;
        case 6: return nextafter(DBL_MAX, 0); default: return 0.1;
      }
    default: /* a few non-finite values */
      switch (Below(40)) {
        case 0: return INFINITY; case 1: return -INFINITY; case 2: return NAN; case 3: return -NAN;
        default: return (double)Below(1000) / 8;
      }
  }
}

static void WriteDoubles(const char* dir) {
  char path[4096];
  snprintf(path, sizeof(path), "%s/doubles.bin", dir);
  FILE* out = fopen(path, "wb");
  if (!out) { perror(path); exit(1); }
  for (unsigned i = 0; i < 1000000; ++i) {
    const double x = RandomDouble(i);
    unsigned char record[9];
    uint64_t bits = ToBits(x);
    for (int b = 0; b < 8; ++b) record[b] = (unsigned char)(bits >> (8 * b));
    record[8] = (unsigned char)ShortestLength(x);
    fwrite(record, 1, 9, out);
  }
  fclose(out);
}

/* ---- text to double ---- */

static char* Append(char* p, const char* s) { while (*s) *p++ = *s++; *p = 0; return p; }
static char* AppendDigits(char* p, int n, int nonzero_first) {
  for (int i = 0; i < n; ++i) *p++ = (char)('0' + ((i == 0 && nonzero_first) ? 1 + Below(9) : Below(10)));
  *p = 0;
  return p;
}

/* The exact decimal expansion of a long double (glibc prints it exactly), without trailing zeros. */
static void ExactDecimal(long double x, char* out, size_t size) {
  snprintf(out, size, "%.800Le", x);
  char* e = strchr(out, 'e');
  char exponent[16];
  snprintf(exponent, sizeof(exponent), "%s", e);
  char* last = e - 1;
  while (*last == '0') --last;
  if (*last == '.') --last;
  strcpy(last + 1, exponent);
}

/* A decimal text exactly halfway between a random double and the next one, or just beside it. */
static void HalfwayText(char* text, size_t size) {
  double x;
  switch (Below(4)) {
    case 0: x = FromBits(Next() >> (12 + Below(40))); break;             /* subnormal or small */
    case 1: x = ldexp(1.0 + (double)Below(1024) / 1024, (int)Below(2000) - 1000); break;
    case 2: x = DBL_MAX; break;                                           /* halfway to the overflow limit */
    default: do x = FromBits(Next() >> 1); while (isinf(x) || isnan(x)); break;
  }
  const long double mid = (long double)x + ((long double)nextafter(x, INFINITY) - (long double)x) / 2;
  const long double half_ulp_of_max = ldexpl(1.0L, 970);
  ExactDecimal(x == DBL_MAX ? (long double)DBL_MAX + half_ulp_of_max : mid, text, size);
  char* e = strchr(text, 'e');
  char exponent[16];
  snprintf(exponent, sizeof(exponent), "%s", e);
  switch (Below(3)) {
    case 0: break;                                                        /* exactly halfway */
    case 1: sprintf(e, "%.*d1%s", (int)Below(30), 0, exponent); break;   /* a hair above */
    default: {                                                            /* a hair below */
      if (e[-1] == '.') { sprintf(e, "0%.*d1%s", (int)Below(30), 0, exponent); break; }
      if (e[-1] >= '1' && e[-1] <= '9') { e[-1]--; sprintf(e, "99999%s", exponent); }
      break;
    }
  }
}

static void RandomDecimalText(unsigned i, char* text, size_t size) {
  char* p = text;
  *p = 0;
  const unsigned kind = i % 16;
  if (kind == 0 || kind == 1) { HalfwayText(text, size); return; }
  if (kind == 2) { /* long mantissas with the point anywhere */
    const int n = 20 + (int)Below(Below(8) == 0 ? 1200 : 120);
    const int point = (int)Below(n + 1);
    p = AppendDigits(p, point, 0);
    p = Append(p, ".");
    p = AppendDigits(p, n - point, 0);
    sprintf(p, "e%d", (int)Below(700) - 350 - point);
    return;
  }
  if (kind == 3) { /* near the overflow limit, the subnormal boundary and the smallest subnormal */
    static const char* const kBases[] = {"1.7976931348623157", "1.797693134862315807", "1.7976931348623158",
                                         "1.797693134862315708145274237317043567981", "2.2250738585072011",
                                         "2.2250738585072014", "2.225073858507201136057409796709131975934",
                                         "4.9406564584124654", "2.4703282292062327", "2.4703282292062328",
                                         "2.47032822920623272088284396434110686182529901307162382212792841250337753635104375932649918180817996189898282347722858865463328355177969898199387398005390939063150356595155702263922908583924491051844359318028499365361525003193704576782492193656236698636584807570015857692699037063119282795585513329278343384093519780155312465972635795746227664652728272200563740064854999770965994704540208281662262378573934507363390079677619305775067401763246736009689513405355374585166611342237666786041621596804619144672918403005300575308490487653917113865916462395249126236538818796362393732804238910186723484976682350898633885879256283027559956575244555072551893136908362547791869486679949683240497058210285131854513962138377228261454376934125320985913276672363281255"};
    const int which = (int)Below(sizeof(kBases) / sizeof(kBases[0]));
    static const int kExponents[] = {308, 308, 308, 308, -308, -308, -308, -324, -324, -324, -324};
    p = Append(p, kBases[which]);
    p = AppendDigits(p, (int)Below(4) == 0 ? (int)Below(25) : 0, 0);
    sprintf(p, "e%d", kExponents[which] + (Below(4) == 0 ? (int)Below(3) - 1 : 0));
    return;
  }
  if (kind == 4) { /* huge, tiny and oddly written exponents */
    static const char* const kTexts[] = {"1e99999999999", "1e-99999999999", "0e999999", "0.000e-99999",
                                         "1e0000000000000000000000005", "-1e400", "1e-400", "-1e-400",
                                         "1e19999", "1e-19999", "1e20000", "123e-20000", "0.0e0", "-0",
                                         "1e+0000308", "1e-0000323", "9e-325", "3e-324", "2e-324"};
    snprintf(text, size, "%s", kTexts[Below(sizeof(kTexts) / sizeof(kTexts[0]))]);
    return;
  }
  if (kind == 5) { /* syntax: signs, spaces, dots, letters, stray characters */
    static const char* const kTexts[] = {
        "  1.5", "\t-2.5", "\n\v\f\r 3", "+.5", "-.5", "5.", "-5.", ".", "+", "-", "", "+-1", "--1", "1e",
        "1e+", "1e-", "1ex", "1.5e3x", "1.5E+03", "1.5e-03", "0005.2500", "000", "00.000", "1 2", "1.2.3",
        "inf", "INF", "-inf", "+Inf", "infinity", "-Infinity", "INFINITY", "infinit", "infx", "in", "nan",
        "NaN", "-nan", "nan(1f)", "nan(", "nan()", "nan(12", "na", "e5", ".e5", "-.e5", "1.e5", ".1e-5x",
        " -0", "- 1", "1d5", "12abc", "0.0000000000000000000000000000000000001"};
    snprintf(text, size, "%s", kTexts[Below(sizeof(kTexts) / sizeof(kTexts[0]))]);
    return;
  }
  /* short random decimals, sometimes decorated */
  if (Below(20) == 0) p = Append(p, Below(2) ? " " : "\t");
  if (Below(3) == 0) p = Append(p, Below(3) ? "-" : "+");
  if (Below(10) == 0) p = AppendDigits(p, 1 + (int)Below(4), 0), p[-1] = '0';
  const int n = 1 + (int)Below(19);
  const int point = Below(3) ? (int)Below(n + 1) : -1;
  for (int d = 0; d < n; ++d) {
    if (d == point) *p++ = '.';
    *p++ = (char)('0' + Below(10));
  }
  if (point == n) *p++ = '.';
  if (Below(4)) {
    static const char* const kSigns[] = {"", "", "+", "-"};
    const int exponent = (int)Below(680) - 340;
    p += sprintf(p, "%s%s%d", Below(2) ? "e" : "E", exponent < 0 ? "-" : kSigns[Below(3)], abs(exponent));
  }
  *p = 0;
  if (Below(30) == 0) strcat(p, Below(2) ? "x" : " ");
}

/* Texts may hold tabs and line ends: they are written with backslash escapes (\t \n \v \f \r \\). */
static void WriteEscaped(FILE* out, const char* text) {
  for (; *text; ++text) {
    switch (*text) {
      case '\t': fputs("\\t", out); break;
      case '\n': fputs("\\n", out); break;
      case '\v': fputs("\\v", out); break;
      case '\f': fputs("\\f", out); break;
      case '\r': fputs("\\r", out); break;
      case '\\': fputs("\\\\", out); break;
      default: fputc(*text, out);
    }
  }
}

static void WriteStrtod(const char* dir) {
  char path[4096];
  snprintf(path, sizeof(path), "%s/strtod.txt", dir);
  FILE* out = fopen(path, "wb");
  if (!out) { perror(path); exit(1); }
  static char text[4096];
  for (unsigned i = 0; i < 150000; ++i) {
    RandomDecimalText(i, text, sizeof(text));
    char* end;
    errno = 0;
    const double value = strtod(text, &end);
    const int range_error = errno == ERANGE;
    WriteEscaped(out, text);
    fprintf(out, "\t%016" PRIx64 "\t%d\t%d\n", ToBits(value), range_error, (int)(end - text));
  }
  fclose(out);
}

/* ---- integers ---- */

static void RandomIntegerText(unsigned i, int base, char* text) {
  char* p = text;
  if (Below(25) == 0) p = Append(p, Below(2) ? " " : "\n");
  const unsigned sign = Below(8);
  if (sign == 0) p = Append(p, "-");
  if (sign == 1) p = Append(p, "+");
  if (sign == 2 && Below(4) == 0) p = Append(p, Below(2) ? "+-" : "--");
  if (base == 16 && Below(3) == 0) p = Append(p, Below(2) ? "0x" : "0X");
  static const char* const kBoundaries10[] = {"2147483647", "2147483648", "2147483646", "4294967295",
                                               "4294967296", "9223372036854775807", "9223372036854775808",
                                               "18446744073709551615", "18446744073709551616",
                                               "214748364", "429496729", "1844674407370955161",
                                               "99999999999999999999999"};
  static const char* const kBoundaries16[] = {"7FFFFFFF", "80000000", "7fffffff", "ffffffff", "100000000",
                                               "FFFFFFFFFFFFFFFF", "10000000000000000", "8000000",
                                               "fffffffffffffff", "7FFFFFFFFFFFFFFF", "8000000000000000",
                                               "0000000000000000000001"};
  if (i % 4 == 0) {
    p = Append(p, base == 10 ? kBoundaries10[Below(sizeof(kBoundaries10) / sizeof(kBoundaries10[0]))]
                             : kBoundaries16[Below(sizeof(kBoundaries16) / sizeof(kBoundaries16[0]))]);
  } else {
    static const char kHex[] = "0123456789abcdefABCDEF";
    const int n = (int)Below(Below(4) ? 12 : 25);
    for (int d = 0; d < n; ++d) *p++ = base == 10 ? (char)('0' + Below(10)) : kHex[Below(22)];
    *p = 0;
  }
  if (Below(12) == 0) { /* a stray character somewhere */
    static const char kStray[] = "x g.- +\t";
    const size_t length = strlen(text);
    const size_t at = Below((unsigned)length + 1);
    memmove(text + at + 1, text + at, length - at + 1);
    text[at] = kStray[Below(sizeof(kStray) - 1)];
  }
}

static void WriteIntegers(const char* dir) {
  char path[4096];
  snprintf(path, sizeof(path), "%s/integers.txt", dir);
  FILE* out = fopen(path, "wb");
  if (!out) { perror(path); exit(1); }
  char text[128];
  for (unsigned i = 0; i < 200000; ++i) {
    const int base = (i & 1) ? 16 : 10;
    RandomIntegerText(i / 2, base, text);
    char* end;
    errno = 0;
    const long long signed_value = strtoll(text, &end, base);
    const int signed_range = errno == ERANGE;
    const int signed_end = (int)(end - text);
    errno = 0;
    const unsigned long long unsigned_value = strtoull(text, &end, base);
    const int unsigned_range = errno == ERANGE;
    WriteEscaped(out, text);
    fprintf(out, "\t%d\t%lld\t%d\t%d\t%llu\t%d\t%d\n", base, signed_value, signed_range, signed_end,
            unsigned_value, unsigned_range, (int)(end - text));
  }
  fclose(out);
}

static int CheckTexts(const char* path) {
  FILE* in = fopen(path, "rb");
  if (!in) { perror(path); return 1; }
  static char line[4096];
  long count = 0;
  while (fgets(line, sizeof(line), in)) {
    line[strcspn(line, "\r\n")] = 0;
    char* tab = strchr(line, '\t');
    if (!tab) { fprintf(stderr, "%s: malformed line %ld\n", path, count + 1); return 1; }
    *tab = 0;
    const uint64_t bits = strtoull(line, NULL, 16);
    char* end;
    const double value = strtod(tab + 1, &end);
    if (*end != 0 || ToBits(value) != bits) {
      fprintf(stderr, "%s: \"%s\" does not read back to %016" PRIx64 " (glibc: %016" PRIx64 ")\n", path, tab + 1,
              bits, ToBits(value));
      return 1;
    }
    ++count;
  }
  fclose(in);
  printf("%s: %ld texts read back exactly by glibc\n", path, count);
  return count > 0 ? 0 : 1;
}

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "--check-texts") == 0) return CheckTexts(argv[2]);
  if (argc != 2) { fprintf(stderr, "usage: number_oracle OUT_DIR | --check-texts FILE\n"); return 2; }
  WriteDoubles(argv[1]);
  WriteStrtod(argv[1]);
  WriteIntegers(argv[1]);
  return 0;
}
