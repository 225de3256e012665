#include "RDProgressDialog.h"

#include "RDLog.h"
#include "RDFunctionThread.h"

#include <QLabel>
#include <QProgressBar>
#include <QThread>

RDProgressDialog::RDProgressDialog(QWidget* parent)
    : RDDialog(parent)
{
    progressBar = new QProgressBar(this);
    messageLabel = new QLabel(this);
    progressBar->setAlignment(Qt::AlignCenter);
    messageLabel->setAlignment(Qt::AlignCenter);
    progressBar->setRange(0, 0);
    resize(300, 80);
}

RDProgressDialog::~RDProgressDialog()
{
    // Deleting a running thread aborts the process, and a finished one must still be released.
    stopTask();
}

bool RDProgressDialog::start()
{
    if (worker)
        return false;
    // A stop raises the flag, then calls the dialog's cancel hook on the stopping thread.
    worker = std::make_unique<RDFunctionThread>("RDProgressThread", [this](RDThread*) { run(); }, [this] { stop(); });
    return worker->start();
}

void RDProgressDialog::stop()
{
}

void RDProgressDialog::run()
{
}

bool RDProgressDialog::isStop() const
{
    return !worker || worker->isStop();
}

QSize RDProgressDialog::sizeHint() const
{
    const QSize l = messageLabel->sizeHint();
    const QSize b = progressBar->sizeHint();
    return QSize(std::max(l.width(), b.width()) + 20, l.height() + b.height() + 40);
}

QString RDProgressDialog::message() const
{
    return messageLabel->text();
}

void RDProgressDialog::setMessage(const QString& message)
{
    if (QObject::thread() != QThread::currentThread()) {
        if (!QMetaObject::invokeMethod(this, "setMessage", Qt::QueuedConnection, Q_ARG(QString, message)))
            RDLOG("cannot post setMessage");
        return;
    }
    messageLabel->setText(message);
}

void RDProgressDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    messageLabel->adjustSize();
    progressBar->adjustSize();
    messageLabel->setGeometry(10, 10, width() - 20, 30);
    progressBar->setGeometry(10, messageLabel->geometry().bottom() + 10, width() - 20, 10);
}

void RDProgressDialog::closeEvent(QCloseEvent* event)
{
    QDialog::closeEvent(event);
    stopTask();
}

void RDProgressDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
}

void RDProgressDialog::stopTask()
{
    if (!worker)
        return;
    worker->stop();
    worker->wait();
    worker.reset();
}
