// Elapsed calculation time of a document and the progress, speed and remaining time derived from
// the counts of done and total pixels that descendants supply. Times are in days.
#pragma once

#include <cstdint>
#include <string>

#include "GenClasses.h"

class TLayerList;

// h:mm:ss.hh of a time in days, rounded to whole hundredths of a second; hours are not wrapped
// into days. Negative and not-a-number times show as 0:00:00.00.
std::string FormatCalculationTime(double Days);

class TCalculationTimer : public TMultiThreadedObject {
public:
    DECLARE_CLASS_NAME(TCalculationTimer)

    void Start();
    void Resume();
    void Stop();
    // A time loaded from a file; the running state is kept.
    void SetElapsed(double Days);
    void Update();
    bool Running();

    double GetElapsed();
    std::string GetElapsedText() { return FormatCalculationTime(GetElapsed()); }
    // Done / total in 0 .. 1; 0 without pixels.
    double GetProgress();
    int GetPercentage();
    double GetPixelsPerSecond();
    double GetRemaining();
    std::string GetRemainingText() { return FormatCalculationTime(GetRemaining()); }

protected:
    virtual std::int64_t GetDonePixels() = 0;
    virtual std::int64_t GetTotalPixels() = 0;
    // The current time in days. A steady clock, so that a change of the system time or of
    // daylight saving does not jump the elapsed time.
    virtual double CurrentTime();

private:
    void UpdateLocked();
    double FElapsed = 0;
    bool FRunning = false;
    double FStartTime = 0;
};

// The timer of a fractal document: done and total pixels are the sums of the counted and of the
// total pixels of every layer's statistics. The counts are read while threads calculate.
class TFractalTimer : public TCalculationTimer {
public:
    explicit TFractalTimer(TLayerList &ALayers) : FLayers(ALayers) {}
    DECLARE_CLASS_NAME(TFractalTimer)

protected:
    std::int64_t GetDonePixels() override;
    std::int64_t GetTotalPixels() override;

private:
    TLayerList &FLayers;
};
