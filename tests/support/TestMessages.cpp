// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestSupport.h"

namespace TestSupport {

TMessageLog &MessageLog()
{
    static TMessageLog log;
    return log;
}

void InstallMessageLog()
{
    SetMessageDlgHook([](const TMessageDlgRequest &request) {
        TMessageLog &log = MessageLog();
        log.Requests.push_back(request);
        if (!log.Answers.empty()) {
            const TModalResult answer = log.Answers.front();
            log.Answers.erase(log.Answers.begin());
            return answer;
        }
        return request.HasDefault ? MsgDlgButtonResult(request.DefaultButton) : mrCancel;
    });
}

} // namespace TestSupport
