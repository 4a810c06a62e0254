#pragma once
// The one base error type of the client. Every error carries a message and the class name
// that error reports show ("Class=EZDecompressionError, Message=data error, ...").

#include <QByteArray>
#include <QString>
#include <exception>

class EVeskError : public std::exception {
public:
    explicit EVeskError(QString message) : Message(std::move(message)), Utf8(Message.toUtf8()) {}
    ~EVeskError() override = default;

    // The class name shown in reports; each derived class overrides it.
    virtual const char* ClassName() const noexcept { return "EVeskError"; }
    const QString& GetMessage() const noexcept { return Message; }
    const char* what() const noexcept override { return Utf8.constData(); }

private:
    QString Message;
    QByteArray Utf8;
};

// Declares an error class derived from Base whose report name is its own name.
#define VESK_DECLARE_ERROR(Name, Base)                                          \
    class Name : public Base {                                                  \
    public:                                                                     \
        using Base::Base;                                                       \
        const char* ClassName() const noexcept override { return #Name; }       \
    }

VESK_DECLARE_ERROR(EAssertionFailed, EVeskError);

// The message of any error: ours as it was given, another's what() read as local text.
QString MessageOf(const std::exception& error);

// The one shape of every catch-all in the client: runs call and hands whatever it raises to
// report as a std::exception; anything else arrives as EVeskError("Unknown exception").
// Nothing leaves, not even from report: the callers sit between the event loop and code
// that may fail. The layers above decide what report does (the debug window, a log line).
template <class Call, class Report>
void CatchEverything(Call&& call, Report&& report) noexcept
{
    try {
        call();
    } catch (const std::exception& error) {
        try {
            report(error);
        } catch (...) {
        }
    } catch (...) {
        try {
            report(EVeskError(QStringLiteral("Unknown exception")));
        } catch (...) {
        }
    }
}

// Raises EAssertionFailed with "<text> (<file>, line <n>)".
[[noreturn]] void VeskAssertionFailure(const char* text, const char* file, int line);

// Assertions stay on in release builds: they guard programming errors whose silent
// continuation would corrupt state.
#define VESK_ASSERT(cond)                                                        \
    do {                                                                         \
        if (!(cond)) VeskAssertionFailure("Assertion failure", __FILE__, __LINE__); \
    } while (0)

#define VESK_ASSERT_MSG(cond, text)                                              \
    do {                                                                         \
        if (!(cond)) VeskAssertionFailure(text, __FILE__, __LINE__);             \
    } while (0)
