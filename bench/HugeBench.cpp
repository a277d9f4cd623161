// Speed of the arbitrary-precision numbers: nanoseconds per operation and
// Mandelbrot iterations per second, through the register stack and through
// the numbers directly, for 4, 8, 16, 34 and 105 words. Built with
// HUGE_BENCH_MPFR (the native i386 build, bench/native/build.sh) it runs the
// same Mandelbrot kernel with MPFR at the same number of bits and prints the
// ratio of the times. A last table sets the column kernels beside Karatsuba's
// products from 24 to the largest word count (the argument "kernels" prints
// only that one).
#include "HugeFPU.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#ifdef HUGE_BENCH_MPFR
#include <mpfr.h>
#endif

#include "bench/BenchEmulation.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs `body` (which does `perCall` operations) in batches of about a millisecond until at least
// `minimum` seconds have passed; nanoseconds per operation in the fastest batch, so that other
// programs running on the machine at the same time count as little as possible.
double Measure(const std::function<void()> &body, double perCall = 1, double minimum = 0.2) {
    body(); // warm up
    auto run = [&](long calls) {
        const auto start = Clock::now();
        for (long i = 0; i < calls; ++i)
            body();
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    long batch = 1;
    double elapsed = run(batch);
    while (elapsed < 1e-3) {
        batch *= 2;
        elapsed = run(batch);
    }
    double total = elapsed, best = elapsed / batch;
    while (total < minimum) {
        elapsed = run(batch);
        total += elapsed;
        if (elapsed / batch < best)
            best = elapsed / batch;
    }
    return best * 1e9 / perCall;
}

int DigitsForWords(int n) {
    int digits = 2;
    while (HugeWordCount(digits) < n)
        ++digits;
    return digits;
}

// Points of the kernel, inside the set (main cardioid and period-2 bulb), so
// that every point runs all iterations; 60 digits, so that every word of the
// numbers is in use.
const char *const PointsRe[] = {"-0.500000000000000000000000000000000000000000000000000000000001",
                                "-1.100000000000000000000000000000000000000000000000000000000001",
                                "0.2000000000000000000000000000000000000000000000000000000000001",
                                "-0.100000000000000000000000000000000000000000000000000000000001"};
const char *const PointsIm[] = {"0.500000000000000000000000000000000000000000000000000000000001",
                                "0.100000000000000000000000000000000000000000000000000000000001",
                                "0.100000000000000000000000000000000000000000000000000000000001",
                                "0.300000000000000000000000000000000000000000000000000000000001"};
constexpr int PointCount = 4;
constexpr int MaxIterations = 300;

// z := z^2 + c on the register stack as compiled code does it: z lives in
// memory, every step loads it, tests |z|^2 against the bailout and stores.
long MandelbrotProcessor(THugeProcessor &p, const std::vector<THugeFloat *> &cr,
                         const std::vector<THugeFloat *> &ci, THugeFloat &zx, THugeFloat &zy,
                         const THugeFloat &bailout) {
    long iterations = 0;
    for (size_t k = 0; k < cr.size(); ++k) {
        zx.SetInteger(0);
        zy.SetInteger(0);
        for (int i = 0; i < MaxIterations; ++i) {
            p.Reset();
            p.LoadHuge(zy);
            p.LoadHuge(zx);    // [x, y]
            p.LoadRegister(0); // [x, x, y]
            p.Multiply(2);     // [x y, x, y]
            p.MultiplyByTwo(); // [2 x y, x, y]
            p.LoadHuge(*ci[k]);
            p.AddPop(1);   // [new y, x, y]
            p.Exchange(2); // [y, x, new y]
            p.Square();
            p.Exchange(1); // [x, y^2, new y]
            p.Square();    // [x^2, y^2, new y]
            p.LoadRegister(0);
            p.Add(2); // [x^2 + y^2, x^2, y^2, new y]
            p.LoadHuge(bailout);
            const bool escaped = p.Compare(1) < 0;
            p.Pop();
            p.Pop();
            if (escaped)
                break;
            p.SubtractRevPop(1); // [x^2 - y^2, new y]
            p.LoadHuge(*cr[k]);
            p.AddPop(1);
            p.StoreHugePop(zx);
            p.StoreHugePop(zy);
            ++iterations;
        }
    }
    return iterations;
}

// The same step on the numbers directly.
long MandelbrotDirect(const std::vector<THugeFloat *> &cr, const std::vector<THugeFloat *> &ci, THugeFloat &x,
                      THugeFloat &y, THugeFloat &t, THugeFloat &u, THugeFloat &r, const THugeFloat &bailout) {
    long iterations = 0;
    for (size_t k = 0; k < cr.size(); ++k) {
        x.SetInteger(0);
        y.SetInteger(0);
        for (int i = 0; i < MaxIterations; ++i) {
            t.Assign(x);
            t.Square();
            u.Assign(y);
            u.Square();
            r.Assign(t);
            r.Add(u);
            if (r.Compare(bailout) > 0)
                break;
            y.Multiply(x);
            y.MultiplyByTwo();
            y.Add(*ci[k]);
            x.Assign(t);
            x.Subtract(u);
            x.Add(*cr[k]);
            ++iterations;
        }
    }
    return iterations;
}

#ifdef HUGE_BENCH_MPFR
struct MpfrKernel {
    explicit MpfrKernel(int bits) {
        mpfr_inits2(bits, x, y, t, u, r, (mpfr_ptr)0);
        for (int k = 0; k < PointCount; ++k) {
            mpfr_init2(cr[k], bits);
            mpfr_init2(ci[k], bits);
            mpfr_set_str(cr[k], PointsRe[k], 10, MPFR_RNDN);
            mpfr_set_str(ci[k], PointsIm[k], 10, MPFR_RNDN);
        }
    }
    ~MpfrKernel() {
        mpfr_clears(x, y, t, u, r, (mpfr_ptr)0);
        for (int k = 0; k < PointCount; ++k) {
            mpfr_clear(cr[k]);
            mpfr_clear(ci[k]);
        }
    }
    long Run() {
        long iterations = 0;
        for (int k = 0; k < PointCount; ++k) {
            mpfr_set_ui(x, 0, MPFR_RNDN);
            mpfr_set_ui(y, 0, MPFR_RNDN);
            for (int i = 0; i < MaxIterations; ++i) {
                mpfr_sqr(t, x, MPFR_RNDN);
                mpfr_sqr(u, y, MPFR_RNDN);
                mpfr_add(r, t, u, MPFR_RNDN);
                if (mpfr_cmp_ui(r, 4) > 0)
                    break;
                mpfr_mul(y, x, y, MPFR_RNDN);
                mpfr_mul_2ui(y, y, 1, MPFR_RNDN);
                mpfr_add(y, y, ci[k], MPFR_RNDN);
                mpfr_sub(x, t, u, MPFR_RNDN);
                mpfr_add(x, x, cr[k], MPFR_RNDN);
                ++iterations;
            }
        }
        return iterations;
    }
    mpfr_t x, y, t, u, r, cr[PointCount], ci[PointCount];
};

// ns per operation of MPFR at the given bits, for the table's operations.
std::vector<double> MpfrOperations(int bits) {
    mpfr_t a, b, c;
    mpfr_inits2(bits, a, b, c, (mpfr_ptr)0);
    mpfr_set_str(a, "1.2345678901234567890123456789012345678901234567890123456789", 10, MPFR_RNDN);
    mpfr_set_str(b, "0.7654321098765432109876543210987654321098765432109876543210", 10, MPFR_RNDN);
    std::vector<double> times;
    times.push_back(Measure([&] { mpfr_add(c, a, b, MPFR_RNDN); }));
    times.push_back(Measure([&] { mpfr_mul(c, a, b, MPFR_RNDN); }));
    times.push_back(Measure([&] { mpfr_sqr(c, a, MPFR_RNDN); }));
    times.push_back(Measure([&] { mpfr_ui_div(c, 1, a, MPFR_RNDN); }));
    times.push_back(Measure([&] { mpfr_div(c, a, b, MPFR_RNDN); }));
    times.push_back(Measure([&] { mpfr_sqrt(c, a, MPFR_RNDN); }));
    times.push_back(Measure([&] { mpfr_exp(c, b, MPFR_RNDN); }));
    times.push_back(Measure([&] { mpfr_log(c, a, MPFR_RNDN); }));
    times.push_back(Measure([&] { mpfr_sin(c, b, MPFR_RNDN); }));
    mpfr_clears(a, b, c, (mpfr_ptr)0);
    return times;
}
#endif

const char *const OperationNames[] = {"add", "mul", "sqr", "recip", "div", "sqrt", "exp", "ln", "sin"};

std::vector<double> HugeOperations(int digits) {
    THugeFloat a(digits), b(digits), c(digits);
    a.SetText("1.2345678901234567890123456789012345678901234567890123456789");
    b.SetText("0.7654321098765432109876543210987654321098765432109876543210");
    std::vector<double> times;
    times.push_back(Measure([&] {
        c.Assign(a);
        c.Add(b);
    }));
    times.push_back(Measure([&] {
        c.Assign(a);
        c.Multiply(b);
    }));
    times.push_back(Measure([&] {
        c.Assign(a);
        c.Square();
    }));
    // the functions run on a register of a processor: no allocation inside
    THugeProcessor p(digits);
    auto onStack = [&](void (THugeProcessor::*operation)(), const THugeFloat &argument) {
        return Measure([&] {
            p.Reset();
            p.LoadHuge(argument);
            (p.*operation)();
        });
    };
    times.push_back(onStack(&THugeProcessor::Reciprocal, a));
    times.push_back(Measure([&] {
        p.Reset();
        p.LoadHuge(b);
        p.LoadHuge(a);
        p.Divide(1);
    }));
    times.push_back(onStack(&THugeProcessor::Sqrt, a));
    times.push_back(onStack(&THugeProcessor::Exp, b));
    times.push_back(onStack(&THugeProcessor::Ln, a));
    times.push_back(onStack(&THugeProcessor::Sin, b));
    return times;
}

std::string Figure(double ns) {
    char text[32];
    if (ns >= 1e6)
        std::snprintf(text, sizeof text, "%.2fms", ns / 1e6);
    else if (ns >= 1e4)
        std::snprintf(text, sizeof text, "%.1fus", ns / 1e3);
    else
        std::snprintf(text, sizeof text, "%.0fns", ns);
    return text;
}

// The product kernels beside each other, for the Karatsuba thresholds: the top n + 1 words of a
// product by the column kernels (short product) and by one whole Karatsuba product, the same for
// squares, and Multiply as chosen by the thresholds (beside MPFR where built with it).
void PrintKernelTable() {
    std::printf("\nProduct kernels (ns): top words by columns and by Karatsuba; Karatsuba from %d words "
                "(squares %d), for the top words from %d (squares %d)\n\n",
                HugeKernel::KaratsubaBaseWords, HugeKernel::KaratsubaSquareBaseWords,
                HugeKernel::KaratsubaTopWords, HugeKernel::KaratsubaSquareTopWords);
    std::printf("%5s %10s %10s %10s %10s %10s", "words", "mul cols", "mul Kara", "sqr cols", "sqr Kara",
                "Multiply");
#ifdef HUGE_BENCH_MPFR
    std::printf(" %10s %8s", "MPFR mul", "ratio");
#endif
    std::printf("\n");
    for (int n : {24, 32, 48, 64, 96, 128, 192, 256, 384, 512, 1024, HugeMaxWords}) {
        std::vector<uint32_t> a(n), b(n), out(2 * n + 2), scratch(HugeKernel::KaratsubaScratchWords(n) + 1);
        uint32_t state = 12345;
        for (int i = 0; i < n; ++i) {
            state = state * 1664525u + 1013904223u;
            a[i] = state;
            state = state * 1664525u + 1013904223u;
            b[i] = state;
        }
        const double minimum = 0.05;
        const double columns =
            Measure([&] { HugeKernel::MultiplyTop(a.data(), b.data(), n, out.data()); }, 1, minimum);
        const double karatsuba =
            Measure([&] { HugeKernel::MultiplyKaratsuba(a.data(), b.data(), n, out.data(), scratch.data()); },
                    1, minimum);
        const double squareColumns =
            Measure([&] { HugeKernel::SquareTop(a.data(), n, out.data()); }, 1, minimum);
        const double squareKaratsuba = Measure(
            [&] { HugeKernel::SquareKaratsuba(a.data(), n, out.data(), scratch.data()); }, 1, minimum);
        const int digits = DigitsForWords(n);
        THugeFloat x(digits), y(digits), z(digits);
        x.SetText("1.2345678901234567890123456789012345678901234567890123456789");
        y.SetText("0.7654321098765432109876543210987654321098765432109876543210");
        const double multiply = Measure(
            [&] {
                z.Assign(x);
                z.Multiply(y);
            },
            1, minimum);
        std::printf("%5d %10.0f %10.0f %10.0f %10.0f %10.0f", n, columns, karatsuba, squareColumns,
                    squareKaratsuba, multiply);
#ifdef HUGE_BENCH_MPFR
        mpfr_t ma, mb, mc;
        mpfr_inits2(32 * n, ma, mb, mc, (mpfr_ptr)0);
        mpfr_set_str(ma, "1.2345678901234567890123456789012345678901234567890123456789", 10, MPFR_RNDN);
        mpfr_set_str(mb, "0.7654321098765432109876543210987654321098765432109876543210", 10, MPFR_RNDN);
        const double reference = Measure([&] { mpfr_mul(mc, ma, mb, MPFR_RNDN); }, 1, minimum);
        mpfr_clears(ma, mb, mc, (mpfr_ptr)0);
        std::printf(" %10.0f %7.2fx", reference, multiply / reference);
#endif
        std::printf("\n");
    }
}

} // namespace

// With the argument "ops" only the table of operations is printed; with "kernels" only the table
// of the product kernels.
int main(int argc, char **argv) {
    PrintEmulationNotice();
    const bool operationsOnly = argc > 1 && std::string(argv[1]) == "ops";
    if (argc > 1 && std::string(argv[1]) == "kernels") {
        PrintKernelTable();
        return 0;
    }
    const int operationWidths[] = {5, 12, 33, 105};
    const int widths[] = {4, 8, 16, 34, 105};
    std::printf("Arbitrary-precision numbers: time per operation (operand and result of n 32-bit words)\n\n");
    std::printf("%5s %6s", "words", "digits");
    for (const char *name : OperationNames)
        std::printf(" %9s", name);
    std::printf("\n");
    for (int n : operationWidths) {
        const int digits = DigitsForWords(n);
        const std::vector<double> times = HugeOperations(digits);
        std::printf("%5d %6d", n, digits);
        for (double t : times)
            std::printf(" %9s", Figure(t).c_str());
        std::printf("\n");
#ifdef HUGE_BENCH_MPFR
        const std::vector<double> reference = MpfrOperations(32 * n);
        std::printf("%5s %6s", "MPFR", "");
        for (double t : reference)
            std::printf(" %9s", Figure(t).c_str());
        std::printf("\n%5s %6s", "ratio", "");
        for (size_t i = 0; i < times.size(); ++i)
            std::printf(" %8.2fx", times[i] / reference[i]);
        std::printf("\n");
#endif
    }
    if (operationsOnly)
        return 0;
    PrintKernelTable();

    std::printf("\nMandelbrot kernel z := z^2 + c with the |z|^2 > 4 test, %d points x %d iterations\n\n",
                PointCount, MaxIterations);
#ifdef HUGE_BENCH_MPFR
    std::printf("%5s %6s %16s %16s %16s %10s %10s\n", "words", "digits", "stack it/s", "numbers it/s",
                "MPFR it/s", "stack/MPFR", "numbers/MPFR");
#else
    std::printf("%5s %6s %16s %16s\n", "words", "digits", "stack it/s", "numbers it/s");
#endif
    for (int n : widths) {
        const int digits = DigitsForWords(n);
        std::vector<THugeFloat *> cr, ci;
        for (int k = 0; k < PointCount; ++k) {
            cr.push_back(new THugeFloat(digits));
            ci.push_back(new THugeFloat(digits));
            cr.back()->SetText(PointsRe[k]);
            ci.back()->SetText(PointsIm[k]);
        }
        THugeFloat x(digits), y(digits), t(digits), u(digits), r(digits), bailout(digits, 4);
        THugeProcessor p(digits);
        long iterations = 0;
        const double stackNs = Measure([&] { iterations = MandelbrotProcessor(p, cr, ci, x, y, bailout); },
                                       PointCount * MaxIterations, 0.5);
        const long stackIterations = iterations;
        const double directNs =
            Measure([&] { iterations = MandelbrotDirect(cr, ci, x, y, t, u, r, bailout); },
                    PointCount * MaxIterations, 0.5);
        if (iterations != stackIterations || iterations != PointCount * MaxIterations)
            std::printf("(the kernels ran %ld and %ld iterations, not %d)\n", stackIterations, iterations,
                        PointCount * MaxIterations);
#ifdef HUGE_BENCH_MPFR
        MpfrKernel mpfr(32 * n);
        long mpfrIterations = 0;
        const double mpfrNs = Measure([&] { mpfrIterations = mpfr.Run(); }, PointCount * MaxIterations, 0.5);
        if (mpfrIterations != iterations)
            std::printf("(MPFR ran %ld iterations)\n", mpfrIterations);
        std::printf("%5d %6d %16.0f %16.0f %16.0f %10.2f %10.2f\n", n, digits, 1e9 / stackNs, 1e9 / directNs,
                    1e9 / mpfrNs, stackNs / mpfrNs, directNs / mpfrNs);
#else
        std::printf("%5d %6d %16.0f %16.0f\n", n, digits, 1e9 / stackNs, 1e9 / directNs);
#endif
        for (THugeFloat *v : cr)
            delete v;
        for (THugeFloat *v : ci)
            delete v;
    }
    return 0;
}
