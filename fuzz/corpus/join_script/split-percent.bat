@Echo Off
Echo Tarvo Group's File Splitter
Echo *************************
copy /b "100%%.txt.0"+"100%%.txt.1" 100%%.txt