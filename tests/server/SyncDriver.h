#pragma once

// Drives the modal parts of a device capture from inside their event loops:
// a list of steps, each run once its condition holds, checked every 20 ms.
// After the time limit any open modal dialog is rejected so that a test
// never hangs; timedOut() then tells the test.

#include "widgets/CustomMessageBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <vector>

class SyncDriver : public QObject
{
public:
    explicit SyncDriver(int limitMilliseconds = 15000) : m_limit(limitMilliseconds)
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
    }

    SyncDriver &when(std::function<bool()> condition, std::function<void()> action, QString what = {})
    {
        m_steps.push_back({std::move(condition), std::move(action), std::move(what)});
        return *this;
    }

    void start()
    {
        m_clock.start();
        m_timer.start();
    }

    bool finished() const { return m_next >= m_steps.size(); }
    bool timedOut() const { return m_timedOut; }
    // The description of the step that was waited for when time ran out.
    QString waitingFor() const { return m_next < m_steps.size() ? m_steps[m_next].what : QString(); }

    // The visible message box titled so, if any.
    static CustomMessageBox *messageBox(const QString &title)
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<CustomMessageBox *>(widget);
            if (!box || !box->isVisible())
                continue;
            for (const QLabel *label : box->findChildren<QLabel *>())
                if (label->text() == title)
                    return box;
        }
        return nullptr;
    }

private:
    struct Step
    {
        std::function<bool()> condition;
        std::function<void()> action;
        QString what;
    };

    void tick()
    {
        if (m_next < m_steps.size() && m_steps[m_next].condition()) {
            const size_t current = m_next++;
            m_steps[current].action();
            return;
        }
        if (m_clock.elapsed() > m_limit && !m_timedOut) {
            m_timedOut = true;
            m_timer.stop();
            if (QWidget *modal = QApplication::activeModalWidget())
                if (auto *dialog = qobject_cast<QDialog *>(modal))
                    dialog->done(QDialog::Rejected);
        }
    }

    std::vector<Step> m_steps;
    size_t m_next = 0;
    QTimer m_timer;
    QElapsedTimer m_clock;
    int m_limit;
    bool m_timedOut = false;
};
