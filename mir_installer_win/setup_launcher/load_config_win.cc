// The launcher image's load configuration, for one field: DependentLoadFlags
// = LOAD_LIBRARY_SEARCH_SYSTEM32, so that DLLs which system DLLs load on the
// launcher's behalf come from System32 too, also before wWinMain has run and
// called SetDefaultDllDirectories (Windows 10 1607 and later read it). The
// launcher is linked with lld, which points the PE header at this structure.
#include <windows.h>

#include <cstddef>

// IMAGE_LOAD_CONFIG_DIRECTORY64 up to the fields of its first 112 bytes;
// older SDK headers call DependentLoadFlags Reserved1. Everything not set is 0.
struct LoadConfigDirectory {
  DWORD size = 0;
  DWORD time_date_stamp = 0;
  WORD major_version = 0;
  WORD minor_version = 0;
  DWORD global_flags_clear = 0;
  DWORD global_flags_set = 0;
  DWORD critical_section_default_timeout = 0;
  ULONGLONG de_commit_free_block_threshold = 0;
  ULONGLONG de_commit_total_free_threshold = 0;
  ULONGLONG lock_prefix_table = 0;
  ULONGLONG maximum_allocation_size = 0;
  ULONGLONG virtual_memory_threshold = 0;
  ULONGLONG process_affinity_mask = 0;
  DWORD process_heap_flags = 0;
  WORD csd_version = 0;
  WORD dependent_load_flags = 0;
  ULONGLONG edit_list = 0;
  ULONGLONG security_cookie = 0;  // none: no cookie for the loader to set up
  ULONGLONG se_handler_table = 0;
  ULONGLONG se_handler_count = 0;
};
static_assert(offsetof(LoadConfigDirectory, dependent_load_flags) == 0x4E);
static_assert(sizeof(LoadConfigDirectory) == 0x70);

extern "C" const LoadConfigDirectory _load_config_used = {
    .size = sizeof(LoadConfigDirectory),
    .dependent_load_flags = LOAD_LIBRARY_SEARCH_SYSTEM32,
};
