// Every file call of the save failing in turn, on the real DLL: the host answers the
// plug-in's imports of the calls (sim/standin/file_faults.h). Whichever call fails, the old
// Tolvenmire.dat stays as it was, no Tolvenmire.dat.tmp is left (unless removing it
// was the call that failed), the script goes on with the next frame, and the next
// save lands.
#include "drink_fixture.h"

#include "standin/file_faults.h"

namespace {

using namespace drink;
using sim::FileCall;

struct Fault {
    const char* name;
    FileCall call;
    // A second call that fails in the same save (to reach the removal of the
    // temporary file, which only a failed save makes).
    bool withSecond;
    FileCall second;
    bool temporaryFileStays;
    bool swapTried; // the failing save gets as far as MoveFileExA
};

const Fault Faults[] = {
    {"CreateFileA", FileCall::CreateFileA, false, FileCall::CreateFileA, false, false},
    {"WriteFile", FileCall::WriteFile, false, FileCall::WriteFile, false, false},
    {"WriteFile short", FileCall::WriteFileShort, false, FileCall::WriteFile, false, false},
    {"FlushFileBuffers", FileCall::FlushFileBuffers, false, FileCall::FlushFileBuffers, false, false},
    {"CloseHandle", FileCall::CloseHandle, false, FileCall::CloseHandle, false, false},
    {"MoveFileExA", FileCall::MoveFileExA, false, FileCall::MoveFileExA, false, true},
    {"DeleteFileA after MoveFileExA", FileCall::DeleteFileA, true, FileCall::MoveFileExA, true, true},
    {"DeleteFileA after WriteFile", FileCall::DeleteFileA, true, FileCall::WriteFile, true, false},
};

class FileFaults : public DrinkTest {
  protected:
    // A drink of four sips, stopped; the frame that stops it saves.
    static int drinkAndStop(int32_t at) {
        startDrinkAt(at);
        int32_t t = at + 5380;
        sipUntil(state().intakeLevel + 4, t);
        const int frame = stopAt(t + 50);
        EXPECT_FALSE(state().drinking);
        return frame;
    }
};

TEST_F(FileFaults, EachFailingCallLeavesTheOldFileAndTheNextSaveLands) {
    for (const Fault& f : Faults) {
        SCOPED_TRACE(f.name);
        begin(nullptr, "42");
        sim::resetFileFaults();
        sim::failFileCall(f.call);
        if (f.withSecond) sim::failFileCall(f.second);

        const int stopFrame = drinkAndStop(T);
        ASSERT_EQ(state().flaskLevel, 41);
        EXPECT_TRUE(sim::fileFaultsSpent()) << "the save made the calls that were to fail";
        EXPECT_EQ(readFile("Tolvenmire.dat"), "42");
        if (f.temporaryFileStays)
            EXPECT_TRUE(readFile("Tolvenmire.dat.tmp")) << "its removal failed";
        else
            EXPECT_FALSE(readFile("Tolvenmire.dat.tmp"));

        // The script goes on with the next frame.
        const int resumes = sim::resumes();
        const int next = tickAt(T + 20000);
        EXPECT_EQ(next, stopFrame + 1);
        EXPECT_EQ(sim::resumes(), resumes + 1);

        // The next save lands, and takes the place of a temporary file left behind.
        drinkAndStop(T + 30000);
        EXPECT_EQ(readFile("Tolvenmire.dat"), "40");
        EXPECT_FALSE(readFile("Tolvenmire.dat.tmp"));
        EXPECT_EQ(sim::fileCalls(FileCall::MoveFileExA), f.swapTried ? 2 : 1)
            << "a save that fails before the swap does not try it";
        sim::stop();
        for (const std::string& v : sim::violations()) ADD_FAILURE() << "protocol: " << v;
    }
}

} // namespace
