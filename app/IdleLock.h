#pragma once

#include <QObject>
#include <QTimer>

#include <cstdint>

// Tells when the application has had no input (keys, clicks, the wheel, moves
// of the mouse) for a given number of minutes. It looks at the time only when
// its limit could have passed, so an idle program is not woken more often.
class CIdleLock : public QObject
{
    Q_OBJECT

public:
    // Monotonic milliseconds; tests replace it to move time on without waiting.
    using Clock = std::int64_t (*)();
    static void SetClock(Clock clock);

    explicit CIdleLock(QObject* parent = nullptr);
    ~CIdleLock() override;

    // 0 turns the watch off.
    void setMinutes(int minutes);
    int minutes() const { return limitMinutes; }

public slots:
    // Emits idle() when the limit has passed since the last input, and starts
    // counting again; else waits for the rest of it.
    void check();

signals:
    void idle();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::int64_t limitMs() const;

    int limitMinutes = 0;
    std::int64_t lastInput = 0;
    QTimer timer;
};
