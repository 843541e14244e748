#pragma once
// What a job needs from whoever shows its work, kept small so that a job never
// sees the window: a progress display and a list of text lines. The jobs call
// them only inside their window-thread steps.
#include <QString>

namespace skarvel {

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    // Position 0 of maximum, shown.
    virtual void start(int maximum) = 0;
    virtual void setValue(int position) = 0;
    // Hidden.
    virtual void finish() = 0;
};

class LineSource {
public:
    virtual ~LineSource() = default;
    virtual int lineCount() const = 0;
    // Line i (0-based) as it stands now; "" past the last line.
    virtual QString line(int i) const = 0;
};

} // namespace skarvel
