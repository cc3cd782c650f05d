#pragma once

#include <QString>

#include <functional>

// The program's one trace sink. Every trace line of the product goes through
// trace(), so that a test can capture all of them with setTraceSink().
// Lines never carry tokens, codes, passwords, storage signatures or patient
// data; callers are responsible for what they pass.
//
// Safe to call from any thread: lines are delivered whole, one at a time.
namespace kelvaris {

using TraceSink = std::function<void(const QString &line)>;

// Writes one line (standard output unless a sink is installed).
void trace(const QString &line);

// Installs a sink and returns the previous one; an empty sink restores
// standard output.
TraceSink setTraceSink(TraceSink sink);

} // namespace kelvaris
