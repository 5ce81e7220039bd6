// Every record of the library.
#pragma once

#include "hypervale/actionRecords.h"
#include "hypervale/commonRecords.h"
#include "hypervale/diskRecords.h"
#include "hypervale/inventoryRecords.h"
#include "hypervale/storageDomainRecords.h"
#include "hypervale/vmRecord.h"
