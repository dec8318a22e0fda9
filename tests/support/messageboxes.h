#pragma once
// Stands in for the program's message boxes while it exists: records every box and answers from a
// queue (OK, or Yes for a question, when the queue is empty).

#include "app/messagebox.h"

#include <QList>
#include <functional>

class MessageBoxRecorder {
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder &) = delete;
    MessageBoxRecorder &operator=(const MessageBoxRecorder &) = delete;

    QList<MessageBoxRequest> boxes;
    QList<int> answers;
    // Runs while a box is shown (the program waits in it), before it is answered.
    std::function<void(const MessageBoxRequest &)> whileShown;

private:
    MessageBoxHandler m_previous;
};
