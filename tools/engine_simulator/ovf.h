// The OVF description the engine stores with a snapshot (the VM's configuration at that time)
// and reads when a VM is created from one.
#pragma once

#include <string>
#include <vector>

#include "engine_simulator/inventory.h"

namespace hvsim {

std::string makeOvf(const Inventory& inventory, const Vm& vm,
                    const std::vector<SnapshotImage>& images);
// A new regular snapshot of the VM's own disks (all of them, or those named): it keeps their
// current images and each captured disk continues on a new image. Status "ok", no id.
Snapshot captureSnapshot(Inventory& inventory, Vm& vm, const std::vector<std::string>& diskIds,
                         const std::string& description);
// Text of the first <Name> element, or "" when there is none.
std::string ovfVmName(const std::string& ovf);
// The VM's id, which the engine writes as the ovf:id of the operating system section; "" when
// there is none.
std::string ovfVmId(const std::string& ovf);

}  // namespace hvsim
