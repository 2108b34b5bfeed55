@Echo Off
copy /b "big.iso.0"+"big.iso.1" big.iso
copy /b big.iso+"big.iso.2"+big.iso.3 big.iso
copy /b "big.iso"+big.iso.4 "big.iso"
