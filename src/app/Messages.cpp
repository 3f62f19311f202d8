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

void showErrorBox(const QString& text) { sink()(MessageKind::Error, QStringLiteral("Error"), text); }

void showUnsupportedTypeBox(const QString& text) {
  sink()(MessageKind::UnsupportedType, QStringLiteral("Unsupported type"), text);
}

QString defaultErrorText(const QString& message) {
  if (!message.isEmpty() && message.back().unicode() > u'.') return message + u'.';
  return message;
}

void showDefaultError(const QString& message) {
  sink()(MessageKind::Default, QStringLiteral("Busprobe"), defaultErrorText(message));
}

void guarded(const std::function<void()>& body) {
  try {
    body();
  } catch (const std::exception& e) {
    showDefaultError(textFromBytes(e.what()));
  }
}

QString textFromBytes(std::string_view bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  if (!utf8.hasError()) return text;
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace bp::app
