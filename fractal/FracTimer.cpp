#include "FracTimer.h"

#include <windows.h>

#include <cmath>

#include "FracLayer.h"

std::string FormatCalculationTime(double Days) {
    if (!(Days > 0))
        Days = 0;
    // Whole hundredths first, so that 0.999 s shows as 0:00:01.00 and never as 0:00:00.99.
    long double hundredths = std::floor(static_cast<long double>(Days) * 8640000.0L + 0.5L);
    if (hundredths > 9.0e18L)
        hundredths = 9.0e18L;
    std::int64_t total = static_cast<std::int64_t>(hundredths);
    return Format("%lld:%.2d:%.2d.%.2d", static_cast<long long>(total / 360000),
                  static_cast<int>(total / 6000 % 60), static_cast<int>(total / 100 % 60),
                  static_cast<int>(total % 100));
}

double TCalculationTimer::CurrentTime() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart) / 86400.0;
}

void TCalculationTimer::Start() {
    TScopeLock<TCalculationTimer> guard(*this);
    if (FRunning)
        return;
    FElapsed = 0;
    FRunning = true;
    FStartTime = CurrentTime();
}

void TCalculationTimer::Resume() {
    TScopeLock<TCalculationTimer> guard(*this);
    if (FRunning)
        return;
    FStartTime = CurrentTime() - FElapsed;
    FElapsed = 0;
    FRunning = true;
}

void TCalculationTimer::Stop() {
    TScopeLock<TCalculationTimer> guard(*this);
    if (!FRunning)
        return;
    UpdateLocked();
    FRunning = false;
}

void TCalculationTimer::SetElapsed(double Days) {
    TScopeLock<TCalculationTimer> guard(*this);
    FStartTime = CurrentTime() - Days;
    FElapsed = Days;
}

void TCalculationTimer::UpdateLocked() {
    if (FRunning)
        FElapsed = CurrentTime() - FStartTime;
}

void TCalculationTimer::Update() {
    TScopeLock<TCalculationTimer> guard(*this);
    UpdateLocked();
}

bool TCalculationTimer::Running() {
    TScopeLock<TCalculationTimer> guard(*this);
    return FRunning;
}

double TCalculationTimer::GetElapsed() {
    TScopeLock<TCalculationTimer> guard(*this);
    UpdateLocked();
    return FElapsed;
}

double TCalculationTimer::GetProgress() {
    TScopeLock<TCalculationTimer> guard(*this);
    std::int64_t total = GetTotalPixels();
    if (total < 1)
        return 0;
    double progress = static_cast<double>(GetDonePixels()) / static_cast<double>(total);
    return progress < 0 ? 0 : progress > 1 ? 1 : progress;
}

int TCalculationTimer::GetPercentage() {
    return static_cast<int>(std::floor(GetProgress() * 100 + 0.5));
}

double TCalculationTimer::GetPixelsPerSecond() {
    TScopeLock<TCalculationTimer> guard(*this);
    UpdateLocked();
    if (FElapsed <= 0)
        return 0;
    return static_cast<double>(GetDonePixels()) / (FElapsed * 86400.0);
}

double TCalculationTimer::GetRemaining() {
    TScopeLock<TCalculationTimer> guard(*this);
    UpdateLocked();
    std::int64_t done = GetDonePixels();
    if (done <= 0)
        return 0;
    double remaining = static_cast<double>(GetTotalPixels() - done) * FElapsed / static_cast<double>(done);
    return remaining > 0 ? remaining : 0;
}

std::int64_t TFractalTimer::GetDonePixels() {
    std::int64_t done = 0;
    for (int i = 0; i < FLayers.Count(); ++i)
        done += FLayers.Items(i).GetStatistics().Counted();
    return done;
}

std::int64_t TFractalTimer::GetTotalPixels() {
    std::int64_t total = 0;
    for (int i = 0; i < FLayers.Count(); ++i)
        total += FLayers.Items(i).GetStatistics().Total();
    return total;
}
