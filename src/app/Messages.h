#pragma once
#include <QString>
#include <functional>
#include <optional>
#include <string_view>

namespace bp::app {

enum class MessageKind {
  Error,            // the "Error" box: OK button, no icon; the text as it is
  UnsupportedType,  // the "Unsupported type" box: OK button, no icon; the text as it is
  Default,          // the default handler: caption "Busprobe", error icon, defaultErrorText
};

// Where message boxes go. Tests replace it to capture the texts instead of opening modal boxes.
using MessageSink = std::function<void(MessageKind kind, const QString& caption, const QString& text)>;
void setMessageSink(MessageSink sink);
void resetMessageSink();

// Shows `text` in the box of `kind`, with that kind's caption; the one place that builds a box.
void showMessage(MessageKind kind, const QString& text);
// The default handler's text: "." appended when the last character's code is above that of "."
// (0x2E).
QString defaultErrorText(const QString& message);

// The message of the error (any std::exception) that `body` throws, as the window shows it;
// nothing when `body` returns.
std::optional<QString> errorOf(const std::function<void()>& body);

// The error path of every handler: runs `body`; an error escaping it is shown in the box of `kind`
// with the error's own message, and the program goes on. True when `body` returned.
bool guarded(MessageKind kind, const std::function<void()>& body);

// Names and texts from files are 8-bit: shown as UTF-8 where the bytes are valid UTF-8, else Latin-1.
QString textFromBytes(std::string_view bytes);

}  // namespace bp::app
