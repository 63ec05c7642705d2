// TDownloadRequest: the dialog that asks what to do with a download. Created hidden.
#pragma once

#include "Forms.h"

class TDownloadRequest : public TForm {
 public:
  TDownloadRequest();
};

extern TDownloadRequest* DownloadRequest;
