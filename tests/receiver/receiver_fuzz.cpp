// libFuzzer targets, two from this file (FUZZ_ENTRY), on the receiver's seam fake (fake_calls.h):
// work_folder_fuzz takes any current directory, application-data path and family code,
// port_list_fuzz any bytes that ComPort hands back in the 100-byte port list. The expectations
// are the README's rules.
#include <fuzzer/FuzzedDataProvider.h>

#include "../common/fuzz_check.h"
#include "fake_calls.h"

using namespace ostrel;

// 2007: the application-data folder and "\Tervon\KAV20\work"; below: the current directory with
// its last seven characters replaced by "Work". The longest file path, the folder and
// "\ErrorMessage.csv", must fit in 499 characters.
int FuzzWorkFolder(FuzzedDataProvider &in)
{
    testing::FakeCalls fake;
    const int family = in.ConsumeBool() ? in.ConsumeIntegral<int>()
                                        : in.PickValueInArray({0, 98, 2000, 2007, 2008});
    fake.shellAnswer = in.ConsumeIntegralInRange(-1, 1); // the seeds' 1: the shell names a path
    const std::string shown = (fake.directory = in.ConsumeRemainingBytesAsString()).c_str();
    const bool fromCurrent = family < 2007 && shown.size() >= 7;
    const bool fromAppData = family == 2007 && fake.shellAnswer == 0 && !shown.empty();
    const std::string folder =
        fromCurrent ? shown.substr(0, shown.size() - 7) + "Work" : shown + "\\Tervon\\KAV20\\work";
    const bool found = (fromCurrent || fromAppData) && folder.size() + 17 <= 499;
    char workFolder[kPathSize]; // exactly the receiver's 500 bytes, where ASan sees past them
    CHECK(GetWorkFolder(fake, workFolder, family) == (found ? 0 : 1));
    CHECK(!found || folder == workFolder);
    return 0;
}

// SetPort gets the first name: up to the first comma or NUL, within the buffer's 100 bytes.
int FuzzPortList(FuzzedDataProvider &in)
{
    testing::FakeCalls fake;
    const int answer = fake.comPortResult = in.ConsumeBool() ? in.ConsumeIntegral<int>() : 0;
    const std::string list = (fake.portList = in.ConsumeRemainingBytesAsString()).substr(0, 99);
    Link link;
    CHECK(OpenLink(fake, link) == (answer ? kOpenNoDevicePort : kOpenOk));
    CHECK(answer ? fake.line.empty()
                 : fake.portName == list.substr(0, list.find_first_of({",\0", 2})));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    return FUZZ_ENTRY(in);
}
