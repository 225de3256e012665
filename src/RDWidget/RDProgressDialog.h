#pragma once

#include "RDDialog.h"

#include <memory>

class QLabel;
class QProgressBar;
class RDFunctionThread;

// A small modal dialog with a one-line message over a busy bar while its task runs on a worker.
// A derived dialog overrides run() (the task, on the worker) and stop() (a cancel hook that
// breaks off a blocking wait of the task), sets its message, calls start() and exec(); the task
// polls isStop() between its steps and ends the dialog with dismiss().
//
// Closing the dialog (title bar) raises the stop flag, calls stop() and blocks until run() has
// returned. A derived dialog whose task may still run when it is destroyed without a close calls
// stopTask() in its own destructor, while its run() can still be called safely.
class RDProgressDialog : public RDDialog
{
    Q_OBJECT
public:
    explicit RDProgressDialog(QWidget* parent = nullptr);
    ~RDProgressDialog() override;

    // Starts the task on a new worker; one task per dialog (false when one is set already, or the
    // thread could not be started).
    virtual bool start();
    // The cancel hook, called on the GUI thread while run() may be blocked; empty by default.
    virtual void stop();
    // The task body, on the worker; empty by default.
    virtual void run();

    // True when no task runs or its stop flag is raised; safe from the worker.
    bool isStop() const;

    QSize sizeHint() const override;
    QString message() const;

public slots:
    // From any thread (queued to the dialog's thread).
    void setMessage(const QString& message);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

    // Stops the task, waits for it to return and releases the worker; nothing without a task.
    void stopTask();

    QProgressBar* progressBar;
    QLabel* messageLabel;

private:
    std::unique_ptr<RDFunctionThread> worker;
};
