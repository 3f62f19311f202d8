#include "app/Messages.h"

#include <QMessageBox>
#include <QStringDecoder>
#include <cstdio>
#include <exception>

#include "app/QuitOnSignal.h"

namespace bp::app {

namespace {

void showBox(MessageKind kind, const QString& caption, const QString& text) {
  if (terminationRequested()) {
    // The program is ending on a signal: nobody waits for a box, the text goes to the terminal.
    std::fprintf(stderr, "busprobe: %s: %s\n", caption.toLocal8Bit().constData(), text.toLocal8Bit().constData());
    return;
  }
  QMessageBox box(kind == MessageKind::Default ? QMessageBox::Critical : QMessageBox::NoIcon, caption,
                  text, QMessageBox::Ok);
  box.exec();
}

MessageSink& sink() {
  static MessageSink s = showBox;
  return s;
}

}  // namespace

void setMessageSink(MessageSink s) { sink() = std::move(s); }
void resetMessageSink() { sink() = showBox; }

void showMessage(MessageKind kind, const QString& text) {
  switch (kind) {
    case MessageKind::Error:
      sink()(kind, QStringLiteral("Error"), text);
      return;
    case MessageKind::UnsupportedType:
      sink()(kind, QStringLiteral("Unsupported type"), text);
      return;
    case MessageKind::Default:
      sink()(kind, QStringLiteral("Busprobe"), defaultErrorText(text));
      return;
  }
}

QString defaultErrorText(const QString& message) {
  if (!message.isEmpty() && message.back().unicode() > u'.') return message + u'.';
  return message;
}

std::optional<QString> errorOf(const std::function<void()>& body) {
  try {
    body();
    return std::nullopt;
  } catch (const std::exception& e) {
    return textFromBytes(e.what());
  }
}

bool guarded(MessageKind kind, const std::function<void()>& body) {
  const std::optional<QString> error = errorOf(body);
  if (error) showMessage(kind, *error);
  return !error;
}

QString textFromBytes(std::string_view bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  if (!utf8.hasError()) return text;
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace bp::app
