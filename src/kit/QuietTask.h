#pragma once

#include "formats/FreedMemory.h"
#include "formats/WorkPool.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>
#include <functional>
#include <memory>
#include <new>
#include <optional>

// The one way work leaves the GUI thread and comes back.
//
// A QuietTask is one pending computation of a view model: an edit restarts the quiet time, the
// work runs off the GUI thread on a copy of its input, and its result (and any partial result it
// publishes first) is applied on the GUI thread only while its generation is still the latest.
// Running work cannot be stopped by Qt, so it is handed a flag that long loops poll.
//
// Work that throws (an allocation that fails, most often) ends the run like a result would: the
// task is no longer running and the failure handler hears of it, if it is still current, instead
// of the exception vanishing inside the thread pool and the tool waiting for good.
class QuietTask : public QObject {
    Q_OBJECT
public:
    using CancelFlag = std::shared_ptr<std::atomic_bool>;
    enum class Failure { outOfMemory, unexpected };

    // A sentence for the user about a run that failed; nothing the user had was changed by it.
    static QString failureSentence(Failure failure)
    {
        return failure == Failure::outOfMemory
            ? QStringLiteral("There was not enough memory to finish this, so nothing was changed.")
            : QStringLiteral("This could not be finished because of an unexpected error, so nothing was changed.");
    }

    void setFailureHandler(std::function<void(Failure)> handler) { m_onFailure = std::move(handler); }

    explicit QuietTask(int quietMs, QObject* parent = nullptr) : QObject(parent)
    {
        m_timer.setSingleShot(true);
        // A coarse timer may fire up to 5% late, which would add to every update after a pause.
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(quietMs);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (auto start = std::move(m_pending)) {
                m_pending = nullptr;
                start();
            }
        });
    }
    ~QuietTask() override { cancel(); }

    void setQuietTime(int ms) { m_timer.setInterval(ms); }

    // Supersedes whatever was pending or running; runs `work` after the quiet time.
    template <class Result>
    void schedule(std::function<Result(const std::atomic_bool& cancelled)> work, std::function<void(Result)> apply)
    {
        prepare<Result, int>(adapt<Result>(std::move(work)), nullptr, std::move(apply));
        m_timer.start();
    }

    // Like schedule(); the work may also publish partial results (metrics before the whole text,
    // say) through the function it is handed. Each is applied in order, before the result, only
    // while the run is current.
    template <class Result, class Partial>
    void schedule(std::function<Result(const std::atomic_bool& cancelled, const std::function<void(Partial)>& publish)> work,
                  std::function<void(Partial)> applyPartial, std::function<void(Result)> apply)
    {
        prepare<Result, Partial>(std::move(work), std::move(applyPartial), std::move(apply));
        m_timer.start();
    }

    // Like schedule(), without waiting for the quiet time.
    template <class Result>
    void runNow(std::function<Result(const std::atomic_bool& cancelled)> work, std::function<void(Result)> apply)
    {
        prepare<Result, int>(adapt<Result>(std::move(work)), nullptr, std::move(apply));
        startNow();
    }
    template <class Result, class Partial>
    void runNow(std::function<Result(const std::atomic_bool& cancelled, const std::function<void(Partial)>& publish)> work,
                std::function<void(Partial)> applyPartial, std::function<void(Result)> apply)
    {
        prepare<Result, Partial>(std::move(work), std::move(applyPartial), std::move(apply));
        startNow();
    }

    // Drops pending work and marks running work as superseded.
    void cancel()
    {
        ++m_generation;
        m_timer.stop();
        m_pending = nullptr;
        if (m_flag)
            m_flag->store(true);
        m_flag.reset();
    }

    bool isPending() const { return m_timer.isActive(); }
    bool isRunning() const { return m_running > 0; }
    quint64 generation() const { return m_generation; }

    // One piece of work that supersedes nothing (several may run at once, such as the requests
    // of a page): `apply` runs on the GUI thread while `context` still exists.
    template <class Result>
    static void detached(QObject* context, std::function<Result()> work, std::function<void(Result)> apply)
    {
        QPointer<QObject> guard(context);
        (void)QtConcurrent::run(WorkPool::instance(), [guard, work = std::move(work), apply = std::move(apply)]() mutable {
            Result result = work();
            QMetaObject::invokeMethod(
                qApp,
                [guard, apply = std::move(apply), result = std::move(result)]() mutable {
                    if (guard)
                        apply(std::move(result));
                },
                Qt::QueuedConnection);
        });
    }

signals:
    void finished();

private:
    template <class Result>
    static auto adapt(std::function<Result(const std::atomic_bool&)> work)
    {
        return std::function<Result(const std::atomic_bool&, const std::function<void(int)>&)>(
            [work = std::move(work)](const std::atomic_bool& cancelled, const std::function<void(int)>&) {
                return work(cancelled);
            });
    }

    void startNow()
    {
        m_timer.stop();
        auto start = std::move(m_pending);
        m_pending = nullptr;
        start();
    }

    bool isCurrent(quint64 generation, const CancelFlag& flag) const
    {
        return !flag->load() && generation == m_generation;
    }

    template <class Result, class Partial>
    void prepare(std::function<Result(const std::atomic_bool&, const std::function<void(Partial)>&)> work,
                 std::function<void(Partial)> applyPartial, std::function<void(Result)> apply)
    {
        cancel();
        const quint64 generation = m_generation;
        m_pending = [this, generation, work = std::move(work), applyPartial = std::move(applyPartial),
                     apply = std::move(apply)]() mutable {
            auto flag = std::make_shared<std::atomic_bool>(false);
            m_flag = flag;
            ++m_running;
            QPointer<QuietTask> self(this);
            // Partial results travel through the same queue as the result, so they arrive first.
            std::function<void(Partial)> publish = [self, generation, flag, applyPartial](Partial partial) {
                if (!applyPartial || flag->load())
                    return;
                QMetaObject::invokeMethod(
                    qApp,
                    [self, generation, flag, applyPartial, partial = std::move(partial)]() mutable {
                        if (self && self->isCurrent(generation, flag))
                            applyPartial(std::move(partial));
                    },
                    Qt::QueuedConnection);
            };
            (void)QtConcurrent::run(WorkPool::instance(), [self, generation, flag, publish = std::move(publish), work = std::move(work),
                                     apply = std::move(apply)]() mutable {
                std::optional<Result> result;
                std::optional<Failure> failure;
                try {
                    result.emplace(work(*flag, publish));
                } catch (const std::bad_alloc&) {
                    failure = Failure::outOfMemory;
                } catch (...) {
                    failure = Failure::unexpected;
                }
                QMetaObject::invokeMethod(
                    qApp,
                    [self, generation, flag, apply = std::move(apply), result = std::move(result), failure]() mutable {
                        if (!self)
                            return;
                        --self->m_running;
                        if (!self->isCurrent(generation, flag)) {
                            // A superseded result may be large: it is freed off the GUI thread.
                            if (result)
                                FreedMemory::release(std::move(*result));
                            return;
                        }
                        self->m_flag.reset();
                        if (result)
                            apply(std::move(*result));
                        else if (self->m_onFailure)
                            self->m_onFailure(*failure);
                        // What the result replaced, or the failed work held, is freed by now.
                        FreedMemory::returnSoon();
                        if (self)
                            emit self->finished();
                    },
                    Qt::QueuedConnection);
            });
        };
    }

    QTimer m_timer;
    std::function<void()> m_pending;
    std::function<void(Failure)> m_onFailure;
    CancelFlag m_flag;
    quint64 m_generation = 0;
    int m_running = 0;
};
