#include "app/RunButtons.h"

#include <QPushButton>

namespace qm {

RunButtons::RunButtons(QPushButton& download, QPushButton& process)
    : download_(download)
    , process_(process)
    , downloadWanted_(download.isEnabled())
    , processWanted_(process.isEnabled())
{
}

void RunButtons::setDownloadEnabled(bool enabled)
{
    downloadWanted_ = enabled;
    show();
}

void RunButtons::setProcessEnabled(bool enabled)
{
    processWanted_ = enabled;
    show();
}

void RunButtons::show()
{
    download_.setEnabled(downloadWanted_ && runs_ == 0);
    process_.setEnabled(processWanted_ && runs_ == 0);
}

RunButtons::Run::Run(RunButtons& buttons)
    : buttons_(buttons)
{
    if (buttons_.runs_++ == 0)
        buttons_.show();
}

RunButtons::Run::~Run()
{
    if (--buttons_.runs_ > 0)
        return;
    buttons_.show();
    if (buttons_.onAllEnded)
        buttons_.onAllEnded();
}

} // namespace qm
