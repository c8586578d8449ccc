#pragma once

#include "tools/markdown/ui/MarkdownPreviewView.h"

#include <QDeadlineTimer>
#include <QtTest/QTest>

#include <functional>
#include <memory>
#include <optional>

// Waits on the preview page instead of sleeping for a guessed time.

// Until the page has drawn `frames` more frames: what a page does in the frames after a change
// (a scroll's event, the release of its own scroll, a click's navigation) is done by then.
inline bool waitForPageFrames(MarkdownPreviewView& preview, int frames = 2, int timeoutMs = 20000)
{
    static int rounds = 0;
    const int token = ++rounds;
    preview.evaluate(QStringLiteral("(function () {"
                                    "  var t = %1, n = %2; window.quorrixTestFrames = [t, 0];"
                                    "  function frame() {"
                                    "    if (window.quorrixTestFrames[0] !== t) return;"
                                    "    if (++window.quorrixTestFrames[1] < n) requestAnimationFrame(frame);"
                                    "  }"
                                    "  requestAnimationFrame(frame); return 0;"
                                    "})()")
                         .arg(token)
                         .arg(frames));
    // The answer may come after a timeout; it then writes into state that outlives this call.
    struct State {
        bool asking = false;
        bool done = false;
    };
    auto state = std::make_shared<State>();
    const QString ask = QStringLiteral("window.quorrixTestFrames[0] === %1 && window.quorrixTestFrames[1] >= %2")
                            .arg(token)
                            .arg(frames);
    return QTest::qWaitFor(
        [&] {
            if (!state->asking && !state->done) {
                state->asking = true;
                preview.evaluate(ask, [state](const QVariant& value) {
                    state->asking = false;
                    state->done = value.toBool();
                });
            }
            return state->done;
        },
        timeoutMs);
}

// Until `position` reads the same before and after two rounds of page frames in a row: a glide
// or a follow-up scroll has ended.
template <class Position>
bool waitUntilStill(MarkdownPreviewView& preview, const std::function<Position()>& position, int timeoutMs = 30000)
{
    const QDeadlineTimer deadline(timeoutMs);
    std::optional<Position> last;
    int stillRounds = 0;
    while (!deadline.hasExpired()) {
        if (!waitForPageFrames(preview, 2, int(std::max<qint64>(1, deadline.remainingTime()))))
            return false;
        const Position now = position();
        stillRounds = last == now ? stillRounds + 1 : 0;
        if (stillRounds >= 2)
            return true;
        last = now;
    }
    return false;
}
