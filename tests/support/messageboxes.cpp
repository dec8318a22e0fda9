#include "messageboxes.h"

MessageBoxRecorder::MessageBoxRecorder()
{
    m_previous = setMessageBoxHandler([this](const MessageBoxRequest &request) {
        boxes.append(request);
        if (whileShown)
            whileShown(request);
        if (!answers.isEmpty())
            return answers.takeFirst();
        return (request.flags & 0xF) == MessageBoxFlag::YesNo ? MessageBoxAnswer::Yes : MessageBoxAnswer::Ok;
    });
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    setMessageBoxHandler(m_previous);
}
