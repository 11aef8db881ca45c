#pragma once
// Files that are not regular files, made in a test's own folder (never a
// system path), for the checks that must refuse them as an output without
// opening them.

#include <string>
#include <utility>
#include <vector>

namespace veltrano::test {

struct SpecialOutputs {
    std::string fifo, folder, device;
    // Each made, with what a refusal calls it ("a FIFO"). The device, a
    // character device with the null device's numbers (were it ever written,
    // nothing would happen), only where the system lets the test make one.
    std::vector<std::pair<std::string, std::string>> made;
    bool HasDevice() const;
};

// A FIFO, a folder and a device named fifo.wav, folder.wav and device.wav
// in 'folder'; false if the FIFO or the folder could not be made.
bool MakeSpecialOutputs(const std::string& folder, SpecialOutputs& out);
// Each is still what it was: a FIFO, an empty folder, the device's numbers.
void ExpectSpecialOutputsUntouched(const SpecialOutputs& special);
void RemoveSpecialOutputs(const SpecialOutputs& special);

}  // namespace veltrano::test
