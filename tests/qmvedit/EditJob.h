// Starting a copy job on a session, as the program does before its first range.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "CQmvedit.h"

namespace testutil {

// Source, destination with the source's profile, progress reset, writing started.
inline void BeginJob(CQmvedit& edit, const std::string& src, const std::string& out) {
  ASSERT_EQ(edit.SetSrcFile(src.c_str()), S_OK);
  ASSERT_EQ(edit.SetDesFile(out.c_str()), S_OK);
  ASSERT_EQ(edit.CopyProfile(), S_OK);
  ASSERT_EQ(edit.SetStream(1), S_OK);
  ASSERT_EQ(edit.BeginWrite(), S_OK);
}

}  // namespace testutil
