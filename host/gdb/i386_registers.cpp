#include "gdb/i386_registers.h"

#include <unicorn/unicorn.h>

#include <array>

namespace kivos::gdb {
namespace {

constexpr std::array<RegisterSlot, 32> kRegisters = {{
    {"eax", UC_X86_REG_EAX, 4, false},    {"ecx", UC_X86_REG_ECX, 4, false},
    {"edx", UC_X86_REG_EDX, 4, false},    {"ebx", UC_X86_REG_EBX, 4, false},
    {"esp", UC_X86_REG_ESP, 4, false},    {"ebp", UC_X86_REG_EBP, 4, false},
    {"esi", UC_X86_REG_ESI, 4, false},    {"edi", UC_X86_REG_EDI, 4, false},
    {"eip", UC_X86_REG_EIP, 4, false},    {"eflags", UC_X86_REG_EFLAGS, 4, false},
    {"cs", UC_X86_REG_CS, 4, true},       {"ss", UC_X86_REG_SS, 4, true},
    {"ds", UC_X86_REG_DS, 4, true},       {"es", UC_X86_REG_ES, 4, true},
    {"fs", UC_X86_REG_FS, 4, true},       {"gs", UC_X86_REG_GS, 4, true},
    {"st0", UC_X86_REG_ST0, 10, false},   {"st1", UC_X86_REG_ST1, 10, false},
    {"st2", UC_X86_REG_ST2, 10, false},   {"st3", UC_X86_REG_ST3, 10, false},
    {"st4", UC_X86_REG_ST4, 10, false},   {"st5", UC_X86_REG_ST5, 10, false},
    {"st6", UC_X86_REG_ST6, 10, false},   {"st7", UC_X86_REG_ST7, 10, false},
    {"fctrl", UC_X86_REG_FPCW, 4, false}, {"fstat", UC_X86_REG_FPSW, 4, false},
    {"ftag", UC_X86_REG_FPTAG, 4, false}, {"fiseg", UC_X86_REG_FCS, 4, false},
    {"fioff", UC_X86_REG_FIP, 4, false},  {"foseg", UC_X86_REG_FDS, 4, false},
    {"fooff", UC_X86_REG_FDP, 4, false},  {"fop", UC_X86_REG_FOP, 4, false},
}};

// The same registers, named and typed for gdb; the order is the table's.
constexpr std::string_view kDescription = R"(<?xml version="1.0"?>
<!DOCTYPE target SYSTEM "gdb-target.dtd">
<target version="1.0">
  <architecture>i386</architecture>
  <feature name="org.gnu.gdb.i386.core">
    <flags id="i386_eflags" size="4">
      <field name="CF" start="0" end="0"/>
      <field name="" start="1" end="1"/>
      <field name="PF" start="2" end="2"/>
      <field name="AF" start="4" end="4"/>
      <field name="ZF" start="6" end="6"/>
      <field name="SF" start="7" end="7"/>
      <field name="TF" start="8" end="8"/>
      <field name="IF" start="9" end="9"/>
      <field name="DF" start="10" end="10"/>
      <field name="OF" start="11" end="11"/>
      <field name="NT" start="14" end="14"/>
      <field name="RF" start="16" end="16"/>
      <field name="VM" start="17" end="17"/>
      <field name="AC" start="18" end="18"/>
      <field name="VIF" start="19" end="19"/>
      <field name="VIP" start="20" end="20"/>
      <field name="ID" start="21" end="21"/>
    </flags>
    <reg name="eax" bitsize="32" type="int32" regnum="0"/>
    <reg name="ecx" bitsize="32" type="int32"/>
    <reg name="edx" bitsize="32" type="int32"/>
    <reg name="ebx" bitsize="32" type="int32"/>
    <reg name="esp" bitsize="32" type="data_ptr"/>
    <reg name="ebp" bitsize="32" type="data_ptr"/>
    <reg name="esi" bitsize="32" type="int32"/>
    <reg name="edi" bitsize="32" type="int32"/>
    <reg name="eip" bitsize="32" type="code_ptr"/>
    <reg name="eflags" bitsize="32" type="i386_eflags"/>
    <reg name="cs" bitsize="32" type="int32"/>
    <reg name="ss" bitsize="32" type="int32"/>
    <reg name="ds" bitsize="32" type="int32"/>
    <reg name="es" bitsize="32" type="int32"/>
    <reg name="fs" bitsize="32" type="int32"/>
    <reg name="gs" bitsize="32" type="int32"/>
    <reg name="st0" bitsize="80" type="i387_ext"/>
    <reg name="st1" bitsize="80" type="i387_ext"/>
    <reg name="st2" bitsize="80" type="i387_ext"/>
    <reg name="st3" bitsize="80" type="i387_ext"/>
    <reg name="st4" bitsize="80" type="i387_ext"/>
    <reg name="st5" bitsize="80" type="i387_ext"/>
    <reg name="st6" bitsize="80" type="i387_ext"/>
    <reg name="st7" bitsize="80" type="i387_ext"/>
    <reg name="fctrl" bitsize="32" type="int" group="float"/>
    <reg name="fstat" bitsize="32" type="int" group="float"/>
    <reg name="ftag" bitsize="32" type="int" group="float"/>
    <reg name="fiseg" bitsize="32" type="int" group="float"/>
    <reg name="fioff" bitsize="32" type="int" group="float"/>
    <reg name="foseg" bitsize="32" type="int" group="float"/>
    <reg name="fooff" bitsize="32" type="int" group="float"/>
    <reg name="fop" bitsize="32" type="int" group="float"/>
  </feature>
</target>
)";

}  // namespace

std::span<const RegisterSlot> i386_registers() {
    return kRegisters;
}

std::string_view i386_target_description() {
    return kDescription;
}

}  // namespace kivos::gdb
