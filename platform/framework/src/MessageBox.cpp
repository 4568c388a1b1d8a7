#include "framework/MessageBox.h"

#include "framework/TextConversion.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace framework {

namespace {

constexpr UINT kButtonMask = 0x0F;
constexpr UINT kIconMask = 0xF0;

struct ButtonSet {
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton;
    QMessageBox::StandardButton escapeButton;
};

ButtonSet ButtonsFor(UINT type) {
    switch (type & kButtonMask) {
    case MB_OKCANCEL:
        return {QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok, QMessageBox::Cancel};
    case MB_YESNOCANCEL:
        return {QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes,
                QMessageBox::Cancel};
    case MB_YESNO:
        return {QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, QMessageBox::No};
    default: // MB_OK and button sets this layer does not offer
        return {QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Ok};
    }
}

QMessageBox::Icon IconFor(UINT type) {
    switch (type & kIconMask) {
    case MB_ICONSTOP:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONWARNING:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

int AnswerFor(QMessageBox::StandardButton button) {
    switch (button) {
    case QMessageBox::Ok:
        return IDOK;
    case QMessageBox::Cancel:
        return IDCANCEL;
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    default:
        return IDCANCEL;
    }
}

int ShowOnUiThread(QWidget* parent, const std::wstring& text, const std::wstring& caption, UINT type) {
    const ButtonSet set = ButtonsFor(type);
    QPointer<QMessageBox> box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("frameworkMessageBox"));
    box->setAttribute(Qt::WA_DeleteOnClose, false);
    box->setWindowTitle(caption.empty() ? QCoreApplication::applicationName() : WideToQString(caption));
    box->setTextFormat(Qt::PlainText);
    box->setText(WideToQString(text));
    box->setIcon(IconFor(type));
    box->setStandardButtons(set.buttons);
    box->setDefaultButton(set.defaultButton);
    box->setEscapeButton(set.escapeButton);
    box->exec();
    // The box may have been destroyed with its parent while it ran, or ended without a button
    // (a quit request ends its loop): both count as closing it.
    if (box.isNull()) {
        return AnswerFor(set.escapeButton);
    }
    QAbstractButton* clicked = box->clickedButton();
    const QMessageBox::StandardButton button =
        clicked != nullptr ? box->standardButton(clicked) : QMessageBox::NoButton;
    delete box.data();
    return AnswerFor(button != QMessageBox::NoButton ? button : set.escapeButton);
}

} // namespace

int MessageBox(QWidget* parent, const std::wstring& text, const std::wstring& caption, UINT type) {
    QApplication* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (app == nullptr) {
        // Nothing can be shown without a widget application: answer as if closed.
        return AnswerFor(ButtonsFor(type).escapeButton);
    }
    if (QThread::currentThread() == app->thread()) {
        return ShowOnUiThread(parent, text, caption, type);
    }
    // Widgets live on the UI thread only: a caller on another thread waits there for the answer.
    // The hand-off uses the standard library's primitives so that race checkers see it.
    struct Request {
        std::mutex mutex;
        std::condition_variable answered;
        bool done = false;
        int answer = 0;
    };
    // Ends the wait when the queued call is gone, run or not (the application may go away first).
    struct Completion {
        explicit Completion(std::shared_ptr<Request> r) : request(std::move(r)) {}
        Completion(const Completion&) = delete;
        Completion& operator=(const Completion&) = delete;
        std::shared_ptr<Request> request;
        ~Completion() {
            std::lock_guard lock(request->mutex);
            request->done = true;
            request->answered.notify_all();
        }
    };
    // The queued call's one capture, built on this thread and used and destroyed on the UI thread.
    // The event queue's own locking is invisible to race checkers, so the capture publishes itself:
    // a release store as it moves into the queued call, an acquire load before any use there.
    class Ticket {
    public:
        Ticket(std::shared_ptr<Completion> completion, QWidget* parent, const std::wstring& text,
               const std::wstring& caption, UINT type)
            : completion_(std::move(completion)), parent_(parent), text_(text), caption_(caption),
              type_(type) {
            published_.store(true, std::memory_order_release);
        }
        Ticket(Ticket&& other) noexcept
            : completion_(std::move(other.completion_)), parent_(std::move(other.parent_)),
              text_(std::move(other.text_)), caption_(std::move(other.caption_)), type_(other.type_) {
            published_.store(true, std::memory_order_release);
        }
        Ticket(const Ticket&) = delete;
        Ticket& operator=(const Ticket&) = delete;
        Ticket& operator=(Ticket&&) = delete;
        ~Ticket() { (void)published_.load(std::memory_order_acquire); }

        void Run() {
            (void)published_.load(std::memory_order_acquire);
            const int answer = ShowOnUiThread(parent_.data(), text_, caption_, type_);
            std::lock_guard store(completion_->request->mutex);
            completion_->request->answer = answer;
        }

    private:
        std::atomic<bool> published_{false};
        std::shared_ptr<Completion> completion_;
        QPointer<QWidget> parent_;
        std::wstring text_;
        std::wstring caption_;
        UINT type_;
    };
    auto request = std::make_shared<Request>();
    request->answer = AnswerFor(ButtonsFor(type).escapeButton);
    QMetaObject::invokeMethod(
        app,
        [ticket = Ticket(std::make_shared<Completion>(request), parent, text, caption, type)]() mutable {
            ticket.Run();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(request->mutex);
    request->answered.wait(lock, [&] { return request->done; });
    return request->answer;
}

} // namespace framework
