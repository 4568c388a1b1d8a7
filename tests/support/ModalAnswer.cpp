#include "ModalAnswer.h"

#include "framework/MessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>

namespace testsupport {

namespace {

constexpr int kNoStandingAnswer = 0;

std::mutex seenMutex;
std::vector<SeenMessageBox> seen;

QMessageBox::StandardButton ButtonFor(int answerId) {
    switch (answerId) {
    case framework::IDOK:
        return QMessageBox::Ok;
    case framework::IDCANCEL:
        return QMessageBox::Cancel;
    case framework::IDYES:
        return QMessageBox::Yes;
    case framework::IDNO:
        return QMessageBox::No;
    default:
        return QMessageBox::NoButton;
    }
}

int AnswerOf(QMessageBox* box, QAbstractButton* button) {
    switch (button != nullptr ? box->standardButton(button) : QMessageBox::NoButton) {
    case QMessageBox::Ok:
        return framework::IDOK;
    case QMessageBox::Yes:
        return framework::IDYES;
    case QMessageBox::No:
        return framework::IDNO;
    default:
        return framework::IDCANCEL;
    }
}

std::string Describe(QWidget* widget) {
    return std::string(widget->metaObject()->className()) + " \"" + widget->windowTitle().toStdString() +
           "\"";
}

// Answers `box` with `answerId` and records it.
void AnswerBox(QMessageBox* box, int answerId) {
    QAbstractButton* button = box->button(ButtonFor(answerId));
    if (button == nullptr) {
        ADD_FAILURE() << "message box \"" << box->text().toStdString() << "\" has no button for answer "
                      << answerId;
        button = box->escapeButton();
    }
    {
        std::lock_guard lock(seenMutex);
        seen.push_back({box->text().toStdString(), box->windowTitle().toStdString(), AnswerOf(box, button)});
    }
    if (button != nullptr) {
        button->click();
    } else {
        box->reject();
    }
}

void CloseUnhandled(QWidget* widget) {
    ADD_FAILURE() << "no watch handled the modal " << Describe(widget) << "; it was closed";
    if (auto* dialog = qobject_cast<QDialog*>(widget)) {
        dialog->reject();
    } else {
        widget->close();
    }
}

} // namespace

// Lives on the UI thread; polls while there is anything to do.
class ModalPoller : public QObject {
public:
    struct Pending {
        ModalWatchPtr watch;
        QDeadlineTimer deadline;
        std::function<bool(QWidget*)> matches;
        std::function<void(QWidget*)> action;
        int answerId = kNoStandingAnswer; // message-box watches
    };

    static ModalPoller& Instance() {
        static QPointer<ModalPoller> instance;
        if (instance.isNull()) {
            instance = new ModalPoller(&EnsureApplication());
        }
        return *instance;
    }

    void Add(Pending pending) {
        queue_.push_back(std::move(pending));
        Update();
    }

    void SetStandingAnswer(int answerId) {
        standingAnswer_ = answerId;
        Update();
    }
    int standingAnswer() const { return standingAnswer_; }

    void CancelAll() {
        for (Pending& pending : queue_) {
            std::lock_guard lock(pending.watch->mutex_);
            pending.watch->timedOut_ = true;
        }
        queue_.clear();
        Update();
    }

private:
    explicit ModalPoller(QObject* parent) : QObject(parent) {
        timer_.setInterval(10);
        connect(&timer_, &QTimer::timeout, this, &ModalPoller::Poll);
    }

    void Update() {
        const bool needed = !queue_.empty() || standingAnswer_ != kNoStandingAnswer;
        if (needed && !timer_.isActive()) {
            timer_.start();
        } else if (!needed && timer_.isActive()) {
            timer_.stop();
        }
    }

    void Poll() {
        if (actionPending_) {
            return; // the widget found last is being acted on; look again afterwards
        }
        QWidget* modal = QApplication::activeModalWidget();
        ExpireWatches(modal);
        if (modal != nullptr) {
            if (!queue_.empty()) {
                if (queue_.front().matches(modal)) {
                    Pending pending = std::move(queue_.front());
                    queue_.pop_front();
                    Act(modal, std::move(pending));
                }
            } else if (standingAnswer_ != kNoStandingAnswer) {
                if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                    actionPending_ = true;
                    const int answerId = standingAnswer_;
                    QPointer<QMessageBox> guarded = box;
                    QMetaObject::invokeMethod(
                        this,
                        [this, guarded, answerId] {
                            actionPending_ = false;
                            if (!guarded.isNull()) {
                                AnswerBox(guarded.data(), answerId);
                            }
                        },
                        Qt::QueuedConnection);
                }
            }
        }
        Update();
    }

    void ExpireWatches(QWidget* modal) {
        bool expired = false;
        for (auto it = queue_.begin(); it != queue_.end();) {
            if (it->deadline.hasExpired()) {
                {
                    std::lock_guard lock(it->watch->mutex_);
                    it->watch->timedOut_ = true;
                }
                it = queue_.erase(it);
                expired = true;
            } else {
                ++it;
            }
        }
        // Nothing else will close it: close it so that the code under test returns.
        if (expired && modal != nullptr && queue_.empty() && standingAnswer_ == kNoStandingAnswer) {
            CloseUnhandled(modal);
        }
    }

    void Act(QWidget* modal, Pending pending) {
        actionPending_ = true;
        {
            std::lock_guard lock(pending.watch->mutex_);
            pending.watch->caption_ = modal->windowTitle().toStdString();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                pending.watch->text_ = box->text().toStdString();
            }
        }
        // Acted on from the event loop rather than from the poll: a timer does not fire again
        // while its own slot runs, so an action that opens another modal widget would otherwise
        // stop all polling.
        QPointer<QWidget> guarded = modal;
        QMetaObject::invokeMethod(
            this,
            [this, guarded, pending = std::move(pending)] {
                actionPending_ = false;
                {
                    std::lock_guard lock(pending.watch->mutex_);
                    pending.watch->acted_ = true;
                }
                if (guarded.isNull()) {
                    return; // closed by the code under test in the meantime
                }
                if (pending.answerId != kNoStandingAnswer) {
                    AnswerBox(qobject_cast<QMessageBox*>(guarded.data()), pending.answerId);
                } else {
                    pending.action(guarded.data());
                }
            },
            Qt::QueuedConnection);
    }

    QTimer timer_;
    std::deque<Pending> queue_;
    bool actionPending_ = false;
    int standingAnswer_ = kNoStandingAnswer;
};

bool ModalWatch::acted() const {
    std::lock_guard lock(mutex_);
    return acted_;
}

bool ModalWatch::timedOut() const {
    std::lock_guard lock(mutex_);
    return timedOut_;
}

std::string ModalWatch::text() const {
    std::lock_guard lock(mutex_);
    return text_;
}

std::string ModalWatch::caption() const {
    std::lock_guard lock(mutex_);
    return caption_;
}

bool ModalWatch::Wait(std::chrono::milliseconds timeout) {
    ProcessEventsUntil([this] { return finished(); }, static_cast<int>(timeout.count()));
    return acted();
}

ModalWatchPtr AnswerNextMessageBox(int answerId, std::chrono::milliseconds timeout) {
    if (ButtonFor(answerId) == QMessageBox::NoButton) {
        ADD_FAILURE() << "unknown message box answer " << answerId;
    }
    auto watch = std::make_shared<ModalWatch>();
    ModalPoller::Pending pending;
    pending.watch = watch;
    pending.deadline = QDeadlineTimer(timeout);
    pending.matches = [](QWidget* widget) { return qobject_cast<QMessageBox*>(widget) != nullptr; };
    pending.answerId = answerId;
    ModalPoller::Instance().Add(std::move(pending));
    return watch;
}

ModalWatchPtr WhenModalAppears(std::function<void(QWidget*)> action, std::chrono::milliseconds timeout,
                               std::function<bool(QWidget*)> matches) {
    auto watch = std::make_shared<ModalWatch>();
    ModalPoller::Pending pending;
    pending.watch = watch;
    pending.deadline = QDeadlineTimer(timeout);
    pending.matches = matches ? std::move(matches) : [](QWidget*) { return true; };
    pending.action = action ? std::move(action) : [](QWidget*) {};
    ModalPoller::Instance().Add(std::move(pending));
    return watch;
}

ScopedMessageBoxAnswer::ScopedMessageBoxAnswer(int answerId)
    : previous_(ModalPoller::Instance().standingAnswer()) {
    ModalPoller::Instance().SetStandingAnswer(answerId);
}

ScopedMessageBoxAnswer::~ScopedMessageBoxAnswer() {
    ModalPoller::Instance().SetStandingAnswer(previous_);
}

std::vector<SeenMessageBox> SeenMessageBoxes() {
    std::lock_guard lock(seenMutex);
    return seen;
}

void ClearSeenMessageBoxes() {
    std::lock_guard lock(seenMutex);
    seen.clear();
}

void CancelModalWatches() {
    ModalPoller::Instance().CancelAll();
}

} // namespace testsupport
