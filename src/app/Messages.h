#pragma once
#include <QString>
#include <functional>

namespace bp::app {

enum class MessageKind {
  Error,            // the "Error" box: OK button, no icon
  UnsupportedType,  // the "Unsupported type" box: OK button, no icon
  Default,          // the default handler: caption "Busprobe", error icon
};

// Where message boxes go. Tests replace it to capture the texts instead of opening modal boxes.
using MessageSink = std::function<void(MessageKind kind, const QString& caption, const QString& text)>;
void setMessageSink(MessageSink sink);
void resetMessageSink();

// The "Error" box (caption "Error", OK, no icon).
void showErrorBox(const QString& text);
// The "Unsupported type" box.
void showUnsupportedTypeBox(const QString& text);
// The default handler for errors no command catches: "." appended when the last character's code
// is above that of "." (0x2E); caption "Busprobe"; error icon; the program goes on.
void showDefaultError(const QString& message);
QString defaultErrorText(const QString& message);

// Runs a handler body; a bp::Error (or any std::exception) escaping it goes to the default handler.
void guarded(const std::function<void()>& body);

// Names and texts from files are 8-bit: shown as UTF-8 where the bytes are valid UTF-8, else Latin-1.
QString textFromBytes(std::string_view bytes);

}  // namespace bp::app
