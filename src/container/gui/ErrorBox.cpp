#include "container/gui/ErrorBox.h"

#include <QGuiApplication>
#include <QMessageBox>

#include <cstdio>

namespace driftpost {

bool RunningWithoutScreen() {
  const QString platform = QGuiApplication::platformName();
  return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

void ShowErrorBox(const std::string& message, QWidget* parent) {
  std::fwrite(message.data(), 1, message.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);

  // Messages from the socket layer separate their lines with CR LF; a label wants LF.
  QString text = QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size()));
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  const QString title = QGuiApplication::applicationDisplayName();
  if (!RunningWithoutScreen()) {
    QMessageBox::critical(parent, title, text);
    return;
  }
  auto* box = new QMessageBox(QMessageBox::Critical, title, text, QMessageBox::Ok, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
}

}  // namespace driftpost
