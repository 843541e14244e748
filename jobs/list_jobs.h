#pragma once
// The URL list builder.
#include "jobs/window_job.h"

namespace skarvel {

class Make_URLs_List : public WindowJob {
    Q_OBJECT
public:
    explicit Make_URLs_List(TForm1* form1) : WindowJob(form1) {}
};

} // namespace skarvel
