#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>
#include <functional>
#include <memory>

// One pending computation of a view model: an edit restarts the quiet time, the work runs off
// the GUI thread on a copy of its input, and its result is applied on the GUI thread only while
// its generation is still the latest. Running work cannot be stopped by Qt, so it is handed a
// flag that long loops poll.
class QuietTask : public QObject {
    Q_OBJECT
public:
    using CancelFlag = std::shared_ptr<std::atomic_bool>;

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
    int quietTime() const { return m_timer.interval(); }

    // Supersedes whatever was pending or running; runs `work` after the quiet time.
    template <class Result>
    void schedule(std::function<Result(const std::atomic_bool& cancelled)> work,
                  std::function<void(Result)> apply)
    {
        prepare(std::move(work), std::move(apply));
        m_timer.start();
    }

    // Like schedule(), without waiting for the quiet time.
    template <class Result>
    void runNow(std::function<Result(const std::atomic_bool& cancelled)> work, std::function<void(Result)> apply)
    {
        prepare(std::move(work), std::move(apply));
        m_timer.stop();
        auto start = std::move(m_pending);
        m_pending = nullptr;
        start();
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

signals:
    void finished();

private:
    template <class Result>
    void prepare(std::function<Result(const std::atomic_bool&)> work, std::function<void(Result)> apply)
    {
        cancel();
        const quint64 generation = m_generation;
        m_pending = [this, generation, work = std::move(work), apply = std::move(apply)]() mutable {
            auto flag = std::make_shared<std::atomic_bool>(false);
            m_flag = flag;
            ++m_running;
            QPointer<QuietTask> self(this);
            (void)QtConcurrent::run([self, generation, flag, work = std::move(work), apply = std::move(apply)]() mutable {
                Result result = work(*flag);
                QMetaObject::invokeMethod(
                    qApp,
                    [self, generation, flag, apply = std::move(apply), result = std::move(result)]() mutable {
                        if (!self)
                            return;
                        --self->m_running;
                        if (flag->load() || generation != self->m_generation)
                            return;
                        self->m_flag.reset();
                        apply(std::move(result));
                        emit self->finished();
                    },
                    Qt::QueuedConnection);
            });
        };
    }

    QTimer m_timer;
    std::function<void()> m_pending;
    CancelFlag m_flag;
    quint64 m_generation = 0;
    int m_running = 0;
};
