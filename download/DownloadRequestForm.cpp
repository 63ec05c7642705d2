#include "DownloadRequestForm.h"

TDownloadRequest* DownloadRequest = nullptr;

TDownloadRequest::TDownloadRequest() {
  SetCaption(Ansi(u8"文件下载"));
  SetBorderStyle(bsDialog);
}
