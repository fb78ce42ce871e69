"""Calls the stubs must refuse: mypy reports each line marked "wrong", and no other."""
import _Device
import _w32

detector = _Device.new_Detector()
_Device.Detector_GetCDROMType(detector, u"E")  # wrong: a drive is an index
_Device.GetUserLang(1)  # wrong: no arguments
_Device.MMer_Encode(_Device.new_MMer(), u"text")  # wrong: bytes wanted
_Device.MMer_SetParam(_Device.new_MMer(), [b"k" * 16, b"v" * 16])  # wrong: a tuple wanted
_Device.MonitorFolder_AddFolder(_Device.new_MonitorFolder(None), b"/tmp")  # wrong: text wanted
len(_Device.GetLinkFile(u"a.lnk"))  # wrong: the answer may be None
_Device.Detector_SetCallback(detector, lambda what, direction: None)  # wrong: three arguments come
_w32.PumpMessages(u"100")  # wrong: milliseconds are an integer
_Device.GetUserFolder().decode()  # wrong: the answer is text
