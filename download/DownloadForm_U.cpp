#include "DownloadForm_U.h"

TDownloadForm* DownloadForm = nullptr;

TDownloadForm::TDownloadForm() { SetCaption(Ansi(u8"下载管理")); }
