@Echo Off
Echo Tarvo Group's File Splitter
Echo *************************
copy /b "my report.pdf.0"+"my report.pdf.1" "my report.pdf"