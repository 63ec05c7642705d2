#include "Downloader.h"

TDownloaderForm* DownloaderForm = nullptr;

TDownloaderForm::TDownloaderForm() { SetCaption(Ansi(u8"导出")); }
